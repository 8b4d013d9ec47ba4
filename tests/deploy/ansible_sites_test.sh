#!/usr/bin/env bash
# deploy/ansible/fleet.yml as a site administrator follows its README, and
# with odd and hostile inventories: OpenSSH servers on 127.0.30.1-4 (port
# 2222, keys made here, all of them this one machine) with simulated units
# on 127.0.3x.y, in a network and mount namespace of the test's own (the
# default site folders, /var/lib/tftp-loader-fleet/SITE, are a tmpfs there).
#
#   settings  inventory values that are wrong stop the run before any site
#             is touched, each site named with its fault; in check mode too,
#             and a real run removes the earlier report even so
#   check     check mode changes nothing, and fails for the site with no
#             server and the folder that is not the role's
#   run       every site and fault at once, limited to the group "sites" (so
#             without the controller): two sites with the default site
#             folder on one machine and no install throttle; a site whose
#             folder has a trailing slash, a space and a comma and holds a
#             stale hidden image, whose image folder's name reads as a
#             pattern, and whose loader reports another unit than the
#             inventory's second; a site whose SSH goes once its units are
#             updated; two sites given one folder; a folder that is not the
#             role's; a package dpkg cannot read; a site with no server. The
#             package's own path has a space and a comma. Every good unit
#             must be updated byte for byte with the images named, every
#             unit reported, and the run fail.
#   lost      a run whose every site is lost still reports, and fails
#   lint      ansible-lint finds nothing in deploy/ansible
#
# Installs the package, so it needs root and skips (77) without it; it also
# skips when tftp-loader is installed already, which stays as it was, and
# when the package has not been built. It removes the package again.
# Every process it starts ends by its pid.
#
# Usage: ansible_sites_test.sh BUILD_DIR DEB_DIR VERSION
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

installed() {
    local state
    state=$(dpkg-query -W -f='${db:Status-Status}' tftp-loader 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != not-installed ]
}
if [ "${1:-}" != --inside ]; then
    deb="$(realpath -m "$2")/tftp-loader_$3_$(dpkg --print-architecture).deb"
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: installing the package and logging in over SSH as root need root"
        exit 77
    fi
    if installed; then
        echo "skipped: tftp-loader is on this machine already, and stays so"
        exit 77
    fi
    if [ ! -f "$deb" ]; then
        echo "skipped: no $deb (the DebianPackages test makes it)"
        exit 77
    fi
    for tool in ansible-playbook ansible-lint /usr/sbin/sshd ssh-keygen python3 unshare ip; do
        command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
    done
    # Loopback is all the namespace has: nothing run here reaches another
    # machine, and the servers' addresses are free whatever runs outside.
    exec unshare --net --mount -- bash "$0" --inside "$(cd "$1" && pwd)" "$deb"
fi
build=$2
deb=$3
ip link set lo up

# $work with images/, unit_sim_start and unit_sim_add, unit_sim_cleanup.
. "$root/scripts/unit-sim-run.sh"
sites_root=/var/lib/tftp-loader-fleet
made_sites_root=0
sshd_pids=()
made_run_sshd=0
ran_playbook=0
cleanup() {
    # Ansible's ssh connections, each ended through its control socket.
    for socket in "$work"/ansible-cp/*; do
        [ -S "$socket" ] && ssh -o ControlPath="$socket" -O exit none 2>/dev/null || true
    done
    for pid in "${sshd_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$ran_playbook" -eq 1 ] && installed; then
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq purge tftp-loader \
            >/dev/null 2>&1 || echo "could not purge tftp-loader"
    fi
    umount "$sites_root" 2>/dev/null || true
    [ "$made_sites_root" -eq 0 ] || rmdir "$sites_root" 2>/dev/null || true
    [ "$made_run_sshd" -eq 0 ] || rmdir /run/sshd 2>/dev/null || true
    unit_sim_cleanup
}
trap cleanup EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

if [ ! -d "$sites_root" ]; then
    mkdir -p "$sites_root"
    made_sites_root=1
fi
mount -t tmpfs -o mode=0755 tftp-loader-test "$sites_root"

# The sites' machines: one sshd each, logging in root with the test's key
# only. sshd wants its privilege separation folder even with -D. Site 4's
# server answers nothing once $work/site4-ssh-lost exists: a lost
# connection, as ssh reports one (255). 127.0.30.5 has no server.
if [ ! -d /run/sshd ]; then
    mkdir -m 0755 /run/sshd
    made_run_sshd=1
fi
ssh-keygen -q -t ed25519 -N '' -C tftp-loader-test -f "$work/id_ed25519"
cp "$work/id_ed25519.pub" "$work/authorized_keys"
: >"$work/known_hosts"
cat >"$work/ssh-gate" <<EOF
#!/bin/sh
[ ! -e $work/site4-ssh-lost ] || { echo "connection lost (the test's)" >&2; exit 255; }
case "\$SSH_ORIGINAL_COMMAND" in
sftp | internal-sftp) exec /usr/lib/openssh/sftp-server ;;
esac
exec /bin/sh -c "\$SSH_ORIGINAL_COMMAND"
EOF
chmod +x "$work/ssh-gate"
start_sshd() {
    local n=$1
    ssh-keygen -q -t ed25519 -N '' -f "$work/site$n-host-key"
    cat >"$work/site$n-sshd.conf" <<EOF
ListenAddress 127.0.30.$n:2222
HostKey $work/site$n-host-key
PidFile none
AuthorizedKeysFile $work/authorized_keys
StrictModes no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
AllowUsers root
Subsystem sftp internal-sftp
EOF
    [ "$n" -ne 4 ] || echo "ForceCommand $work/ssh-gate" >>"$work/site$n-sshd.conf"
    /usr/sbin/sshd -D -e -f "$work/site$n-sshd.conf" >"$work/site$n-sshd.log" 2>&1 &
    sshd_pids+=($!)
    echo "[127.0.30.$n]:2222 $(cut -d' ' -f1,2 "$work/site$n-host-key.pub")" >>"$work/known_hosts"
    for try in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.30.$n/2222") 2>/dev/null && return 0
        kill -0 "${sshd_pids[-1]}" 2>/dev/null && [ "$try" -lt 50 ] ||
            { cat "$work/site$n-sshd.log"; echo "sshd on 127.0.30.$n did not listen"; exit 1; }
        sleep 0.1
    done
}
for n in 1 2 3 4; do start_sshd "$n"; done

# The units: site 1's third one never comes back after its program image,
# site 2's second one refuses every write; the units of the two sites that
# share a folder must never hear from the loader.
unit_sim_start "$build" 127.0.31.2 --reboot-seconds 0.5
declare -A store=([127.0.31.2]="$work/store")
for unit in 127.0.31.3 127.0.31.4 127.0.32.2 127.0.32.3 127.0.33.2 127.0.34.2 127.0.35.2 127.0.36.2; do
    store[$unit]="$work/store-$unit"
    fault=()
    [ "$unit" = 127.0.31.4 ] && fault=(--dies-with-program)
    [ "$unit" = 127.0.32.3 ] && fault=(--tftp-error "2:Access violation")
    unit_sim_add "$build" "$unit" "${store[$unit]}" --reboot-seconds 0.5 "${fault[@]}"
done
(cd "$work/images" && sha256sum -- *.bin) >"$work/manifest.sha256"

# Site 3's images, in a folder whose name is a pattern that matches its
# sibling img1/, which holds older images of the same names; its folder
# holds a hidden program image of an earlier run, which sorts first.
cp -r "$work/images" "$work/img[1]"
mkdir "$work/img1"
for name in pagesV1.bin firmware.bin; do
    { head -c 8 "$work/images/$name"; head -c 5000 /dev/urandom; } >"$work/img1/$name"
done
site3="$work/site 3, east"
mkdir -p "$site3/images"
: >"$site3/.tftp-loader-fleet.20000101T000000000000Z.site3"
{ printf 'TSK\x00\x00\x00\x01\x00'; head -c 7000 /dev/urandom; } >"$site3/images/.aaa.bin"
# Another's folder, which the role must leave as it is.
mkdir "$work/someone-elses"
echo "not the loader's" >"$work/someone-elses/notes.txt"
# A package path with a space and a comma, and a package that is no package.
mkdir "$work/pkg dir, one" "$work/broken"
cp "$deb" "$work/pkg dir, one/"
head -c 3000 /dev/urandom >"$work/broken/$(basename "$deb")"
# Loaders for sites 3 and 4: one that updates 127.0.33.9 in place of the
# last unit of its list, one after which site 4's SSH is lost.
cat >"$work/loader-swapping-last-unit" <<'EOF'
#!/bin/bash
args=("$@")
for i in "${!args[@]}"; do
    if [ "${args[i]}" = --addresses ]; then
        sed '$ s/.*/127.0.33.9/' "${args[i + 1]}" >"${args[i + 1]}.swapped"
        args[i + 1]="${args[i + 1]}.swapped"
    fi
done
exec /usr/bin/tftp-loader-cli "${args[@]}"
EOF
cat >"$work/loader-then-ssh-lost" <<EOF
#!/bin/bash
status=0
/usr/bin/tftp-loader-cli "\$@" || status=\$?
touch $work/site4-ssh-lost
exit \$status
EOF
chmod +x "$work/loader-swapping-last-unit" "$work/loader-then-ssh-lost"
# An earlier report's folder: the role replaces its own files and leaves
# the rest.
mkdir -p "$work/report/sites/keep"
echo kept >"$work/report/notes.txt"
echo kept >"$work/report/sites/keep/notes.txt"
echo '[]' >"$work/report/sites/gone.json"
echo '[]' >"$work/report/fleet-report.json"

common_vars="    ansible_port: 2222
    ansible_user: root
    ansible_ssh_private_key_file: $work/id_ed25519
    tftp_loader_fleet_deb: $work/pkg dir, one/$(basename "$deb")
    tftp_loader_fleet_images: $work/images
    tftp_loader_fleet_jobs: 2
    tftp_loader_fleet_time_limit: 60
    tftp_loader_fleet_wait_limit: 3 # the unit that never comes back is given up after it
    tftp_loader_fleet_manifest: $work/manifest.sha256
    tftp_loader_fleet_poll_seconds: 1
    tftp_loader_fleet_report_dir: $work/report"
cat >"$work/inventory.yml" <<EOF
sites:
  vars:
$common_vars
  hosts:
    site1:
      ansible_host: 127.0.30.1
      tftp_loader_fleet_units: [127.0.31.2, 127.0.31.3, 127.0.31.4]
    site2:
      ansible_host: 127.0.30.2
      tftp_loader_fleet_units: [127.0.32.2, 127.0.32.3]
    site3:
      ansible_host: 127.0.30.3
      tftp_loader_fleet_site_dir: "$site3/"
      tftp_loader_fleet_images: "$work/img[1]"
      tftp_loader_fleet_cli: $work/loader-swapping-last-unit
      tftp_loader_fleet_units: [127.0.33.2, 127.0.33.3]
    site4:
      ansible_host: 127.0.30.4
      tftp_loader_fleet_cli: $work/loader-then-ssh-lost
      tftp_loader_fleet_units: [127.0.34.2]
    site5:
      ansible_host: 127.0.30.3
      tftp_loader_fleet_site_dir: $work/shared
      tftp_loader_fleet_units: [127.0.35.2]
    site6:
      ansible_host: 127.0.30.1
      tftp_loader_fleet_site_dir: $work/shared/
      tftp_loader_fleet_units: [127.0.36.2]
    site7:
      ansible_host: 127.0.30.2
      tftp_loader_fleet_site_dir: $work/someone-elses
      tftp_loader_fleet_units: [127.0.37.2]
    site8:
      ansible_host: 127.0.30.3
      tftp_loader_fleet_deb: $work/broken/$(basename "$deb")
      tftp_loader_fleet_units: [127.0.38.2]
    site9:
      ansible_host: 127.0.30.5
      tftp_loader_fleet_units: [127.0.39.2]
EOF
# Wrong settings, one a site: the site, its variable, what the run says of
# it (as the log quotes it).
settings=(
    'listed|tftp_loader_fleet_units: 127.0.39.2|listed: tftp_loader_fleet_units must be a list of addresses'
    'blank|tftp_loader_fleet_units: [127.0.39.2, ""]|blank: tftp_loader_fleet_units entry 2, \"\", is no IPv4 address'
    "comment|tftp_loader_fleet_units: ['# 127.0.39.2']|comment: tftp_loader_fleet_units entry 1, \\\"# 127.0.39.2\\\", is no IPv4"
    'twice|tftp_loader_fleet_units: [127.0.39.2, 127.000.039.002]|twice: tftp_loader_fleet_units names 127.000.039.002 twice'
    'nojobs|tftp_loader_fleet_jobs: 0|nojobs: tftp_loader_fleet_jobs must be a whole number of 1 or more, not 0'
    'wordjobs|tftp_loader_fleet_jobs: many|wordjobs: its variables do not pass the declarations in meta/main.yml'
    'oldname|tftp_loader_verify: false|oldname: tftp_loader_verify is now tftp_loader_fleet_verify'
    "nopackage|tftp_loader_fleet_deb: $work/missing.deb|nopackage: tftp_loader_fleet_deb, \\\"$work/missing.deb\\\", is no file"
)
{
    printf 'sites:\n  vars:\n%s\n    tftp_loader_fleet_units: [127.0.39.2]\n  hosts:\n' "$common_vars"
    for row in "${settings[@]}"; do
        IFS='|' read -r site setting _ <<<"$row"
        printf '    %s:\n      ansible_host: 127.0.30.9\n      %s\n' "$site" "$setting"
    done
} >"$work/settings.yml"

# Nothing of Ansible's or ssh's own settings or state outside $work.
mkdir -p "$work/home"
cat >"$work/ansible.cfg" <<EOF
[defaults]
forks = 8
interpreter_python = /usr/bin/python3
local_tmp = $work/ansible-local
remote_tmp = $work/ansible-remote
async_dir = $work/ansible-async
retry_files_enabled = false
nocolor = true
host_key_checking = true

[ssh_connection]
pipelining = true
control_path_dir = $work/ansible-cp
ssh_args = -F /dev/null -o UserKnownHostsFile=$work/known_hosts -o GlobalKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o BatchMode=yes -o ControlMaster=auto -o ControlPersist=300
EOF
export HOME="$work/home" ANSIBLE_CONFIG="$work/ansible.cfg"
# Ansible stops at a locale that is not installed; this one always is.
export LC_ALL=C.UTF-8

# The example inventory's addresses are loopback ones, which stand in for
# real ones.
ansible-inventory -i "$root/deploy/ansible/inventory.example.yml" --list | python3 -c '
import ipaddress, json, sys
hostvars = json.load(sys.stdin)["_meta"]["hostvars"]
addresses = [a for site, v in hostvars.items() for a in [v.get("ansible_host", site)] + v.get("tftp_loader_fleet_units", [])]
sys.exit(0 if hostvars and all(ipaddress.ip_address(a).is_loopback for a in addresses) else f"not loopback: {addresses}")'

# ansible-lint beside the runs, which mostly wait. Its status goes to a
# file: its pid may be another child's by the time it is waited for.
(
    status=0
    cd "$root/deploy/ansible" && ansible-lint --offline --nocolor fleet.yml roles/tftp_loader_fleet || status=$?
    echo "$status" >"$work/lint.status"
) >"$work/lint.log" 2>&1 &
lint_pid=$!

# LOG ARGS...: runs the playbook, prints its exit status.
playbook() {
    local log=$1 status=0 start=$SECONDS
    shift
    timeout 240 ansible-playbook "$root/deploy/ansible/fleet.yml" "$@" >"$work/$log" 2>&1 || status=$?
    echo "${log%.log}: $((SECONDS - start)) s, status $status" >&2
    echo "$status"
}
address_re() { sed -E 's/([0-9]+)/0*\1/g; s/\./\\./g' <<<"$1"; }
# LOG PATTERN...: the log holds every pattern (extended regular expressions).
holds() {
    local log=$1 pattern
    shift
    for pattern in "$@"; do
        grep -qE -- "$pattern" "$work/$log" || fail "$log does not say: $pattern"
    done
}
stores_empty() {
    local unit
    for unit in "$@"; do
        [ -z "$(ls -A "${store[$unit]}")" ] || fail "$unit was sent images"
    done
}
ran_playbook=1 # from here on, a tftp-loader on this machine is the playbook's

# settings: in check mode, which must fail as the real run does, and for
# real, which removes the earlier report even so.
for mode in check real; do
    args=()
    [ "$mode" = real ] || args=(--check)
    status=$(playbook settings.log -i "$work/settings.yml" "${args[@]}")
    [ "$status" -eq 2 ] || fail "wrong settings, $mode: status $status, not 2"
    for row in "${settings[@]}"; do
        IFS='|' read -r site _ message <<<"$row"
        grep -qF -- "$message" "$work/settings.log" || fail "wrong settings, $mode: $site not refused with: $message"
    done
    grep -q UNREACHABLE "$work/settings.log" && fail "wrong settings, $mode: a site was contacted"
    [ "$mode" = real ] || [ -f "$work/report/fleet-report.json" ] || fail "check mode removed the earlier report"
done
[ ! -e "$work/report/fleet-report.json" ] || fail "a run stopped at its settings left the earlier report"

# check: no install, no copy, no run, no report; it fails where the real
# run would.
mkdir -p "$work/report/sites"
echo '[]' | tee "$work/report/fleet-report.json" >"$work/report/sites/gone.json"
status=$(playbook check.log -i "$work/inventory.yml" --check --limit site1,site3,site7,site9)
[ "$status" -eq 2 ] || fail "check mode: status $status, not 2"
holds check.log 'site7 site failed: .*a folder that this role did not make' 'site9 unreachable: .*127\.0\.30\.5'
installed && fail "check mode installed tftp-loader"
[ -z "$(ls -A "$sites_root")" ] || fail "check mode made $(ls "$sites_root")"
[ -e "$site3/images/.aaa.bin" ] && [ ! -e "$site3/images/pagesV1.bin" ] || fail "check mode changed $site3/images"
[ -e "$work/report/sites/gone.json" ] && [ "$(cat "$work/report/fleet-report.json")" = "[]" ] ||
    fail "check mode removed the earlier report"
stores_empty "${!store[@]}"
[ "$failed" -eq 0 ] || cat "$work/settings.log" "$work/check.log"

status=$(playbook run.log -i "$work/inventory.yml" --limit sites)
[ "$status" -eq 2 ] || fail "the playbook ended with status $status, not 2 (a host failed)"
holds run.log 'Not updated: 14 units at 9 sites: 4 updated, 3 failed, 5 not reached, 2 not reported' \
    "^site1 +$(address_re 127.0.31.2) +yes +[0-9.]+ +Update successful$" \
    "^site2 +$(address_re 127.0.32.3) +no +[0-9.]+ +.*Access violation"
grep -q 'FAILED - RETRYING' "$work/run.log" && fail "routine polls print FAILED - RETRYING"

# The merged report, row by row.
python3 - "$work/report/fleet-report.json" "$work/images" <<'EOF' || fail "the merged report is not as expected"
import hashlib, json, sys
rows = json.load(open(sys.argv[1]))
sha = {name: hashlib.sha256(open(f"{sys.argv[2]}/{name}", "rb").read()).hexdigest()
       for name in ["pagesV1.bin", "firmware.bin"]}
fields = ["address", "revision", "web_page_image", "program_image", "step", "outcome", "result",
          "seconds", "succeeded", "verified", "web_page_sha256", "program_sha256", "site"]
sent = {"web_page_sha256": sha["pagesV1.bin"], "program_sha256": sha["firmware.bin"]}
bad = []
def check(ok, text):
    if not ok:
        bad.append(text)
# The loader writes an address as its address field shows it, 127.000.032.003.
units = {".".join(str(int(n)) for n in row["address"].split(".")): row for row in rows if row.get("address")}
sites = {row["site"]: row for row in rows if row.get("address") is None}
check(len(rows) == 20, f"{len(rows)} rows, not 20")
for address, site in {"127.0.31.2": "site1", "127.0.31.3": "site1", "127.0.32.2": "site2",
                      "127.0.33.2": "site3"}.items():
    row = units.get(address, {})
    check(sorted(row) == sorted(fields), f"{address}: fields {sorted(row)}")
    check(row.get("site") == site and row.get("succeeded") is True and row.get("outcome") == "succeeded"
          and row.get("web_page_image") == "pagesV1.bin" and row.get("program_image") == "firmware.bin"
          and row.get("verified") is True and all(row.get(k) == v for k, v in sent.items()), f"{address}: {row}")
# Unit: site, outcome, words of its result.
for address, site, outcome, words in [
        ("127.0.31.4", "site1", "failed", "did not come back"),
        ("127.0.32.3", "site2", "failed", "Access violation"),
        ("127.0.33.3", "site3", "not reported", "no row"),
        ("127.0.33.9", "site3", "not in the inventory", ""),
        ("127.0.34.2", "site4", "not reported", "its units may have been updated"),
        ("127.0.35.2", "site5", "not reached", "also the folder of site6"),
        ("127.0.36.2", "site6", "not reached", "also the folder of site5"),
        ("127.0.37.2", "site7", "not reached", "this role did not make"),
        ("127.0.38.2", "site8", "not reached", "Invalid archive signature"),
        ("127.0.39.2", "site9", "not reached", "127.0.30.5")]:
    row = units.get(address, {})
    check(row.get("site") == site and row.get("succeeded") is False and row.get("outcome") == outcome
          and words in (row.get("result") or ""), f"{address}: {row}")
    if site in ["site4", "site5", "site6", "site7", "site8", "site9"]:
        site_row = sites.get(site, {})
        check(site_row.get("succeeded") is False and site_row.get("units") == [address]
              and site_row.get("result") == row.get("result"), f"{site}: {site_row}")
check(units.get("127.0.31.4", {}).get("verified") is False, "127.0.31.4 not verified")
check(sorted(sites) == ["site4", "site5", "site6", "site7", "site8", "site9"], f"site rows: {sorted(sites)}")
for site, outcome in [("site4", "unreachable"), ("site5", "site failed"), ("site9", "unreachable")]:
    check(sites.get(site, {}).get("outcome") == outcome, f"{site}: {sites.get(site)}")
check("lost the SSH connection" in sites.get("site4", {}).get("result", ""), f"site4: {sites.get('site4')}")
for text in bad:
    print(text)
sys.exit(1 if bad else 0)
EOF

# Every good unit stored both images byte for byte, the controller's of the
# folder named; the unit that did not come back too; the rest none.
for unit in 127.0.31.2 127.0.31.3 127.0.31.4 127.0.32.2 127.0.33.2 127.0.34.2; do
    cmp -s "$work/images/pagesV1.bin" "${store[$unit]}/rrpages.bin" || fail "$unit: web-page image"
    cmp -s "$work/images/firmware.bin" "${store[$unit]}/rrboot.bin" || fail "$unit: program image"
done
stores_empty 127.0.32.3 127.0.35.2 127.0.36.2
[ "$(ls -A "$site3/images")" = "$(printf 'firmware.bin\npagesV1.bin')" ] ||
    fail "site 3's image folder holds $(ls -A "$site3/images")"
[ "$(ls -A "$work/someone-elses")" = notes.txt ] || fail "the role wrote into another's folder"
[ -f "$work/report/notes.txt" ] && [ -f "$work/report/sites/keep/notes.txt" ] ||
    fail "the role removed files of the report's folder that it had not written"
[ ! -e "$work/report/sites/gone.json" ] || fail "the earlier report's site results stayed"
[ -f "$work/report/sites/site1.json" ] || fail "no sites/site1.json"
[ "$failed" -eq 0 ] || { cat "$work/run.log"; cat "$work/report/fleet-report.txt" 2>/dev/null || true; }

# Every site of a run lost: the one whose SSH goes once its units are
# updated, and the one with no server. The run still ends with a report of
# its own, which says so, and fails.
rm -f "$work/site4-ssh-lost"
echo '[]' >"$work/report/fleet-report.json"
status=$(playbook lost.log -i "$work/inventory.yml" --limit site4,site9)
[ "$status" -eq 2 ] || fail "every site lost: status $status, not 2"
holds lost.log 'Not updated: 2 units at 2 sites: 0 updated, 0 failed, 1 not reached, 1 not reported'
python3 - "$work/report/fleet-report.json" <<'EOF' || fail "every site lost: the report is not this run's"
import json, sys
rows = {row.get("address") or row["site"]: row["outcome"] for row in json.load(open(sys.argv[1]))}
expected = {"127.000.034.002": "not reported", "127.000.039.002": "not reached",
            "site4": "unreachable", "site9": "unreachable"}
if rows != expected:
    print(f"rows {rows}, not {expected}")
    sys.exit(1)
EOF

wait "$lint_pid" 2>/dev/null || true
[ "$(cat "$work/lint.status" 2>/dev/null)" = 0 ] || { cat "$work/lint.log"; fail "ansible-lint found faults"; }

[ "$failed" -eq 0 ] && echo "wrong settings refused, check mode, 9 sites and their 14 units reported as they should be"
exit "$failed"
