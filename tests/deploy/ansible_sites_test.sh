#!/usr/bin/env bash
# deploy/ansible/fleet.yml against four sites on this one machine: three
# OpenSSH servers on 127.0.30.1-3 (port 2222, keys made here) with simulated
# units on 127.0.31.x and 127.0.32.x, one unit refusing the write and one
# that never comes back after its program image; the third site's list names
# a unit twice, so its run fails; a fourth site, 127.0.30.4, has no server at
# all. The images go with a manifest, and each unit is verified. A run in
# check mode must change nothing; the real run must update every good unit
# byte for byte, report every unit (verified or not, with the digests of the
# images it was sent) and both sites that were not updated, and fail.
#
# Installs the package, so it needs root and skips (77) without it; it also
# skips when tftp-loader is installed already, which stays as it was, and
# when the package has not been built. It removes the package again.
# Traffic stays on loopback; every process it starts ends by its pid.
#
# Usage: ansible_sites_test.sh BUILD_DIR DEB_DIR VERSION
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
deb="$(realpath -m "$2")/tftp-loader_$3_$(dpkg --print-architecture).deb"

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the package and logging in over SSH as root need root"
    exit 77
fi
installed() {
    local state
    state=$(dpkg-query -W -f='${db:Status-Status}' tftp-loader 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != not-installed ]
}
if installed; then
    echo "skipped: tftp-loader is on this machine already, and stays so"
    exit 77
fi
if [ ! -f "$deb" ]; then
    echo "skipped: no $deb (the DebianPackages test makes it)"
    exit 77
fi
for tool in ansible-playbook ansible-inventory /usr/sbin/sshd ssh-keygen python3; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

# $work with images/, unit_sim_start and unit_sim_add, unit_sim_cleanup.
. "$root/scripts/unit-sim-run.sh"
sshd_pids=()
made_run_sshd=0
ran_playbook=0
cleanup() {
    for pid in "${sshd_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$ran_playbook" -eq 1 ] && installed; then
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq purge tftp-loader \
            >/dev/null 2>&1 || echo "could not purge tftp-loader"
    fi
    [ "$made_run_sshd" -eq 0 ] || rmdir /run/sshd 2>/dev/null || true
    unit_sim_cleanup
}
trap cleanup EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# The sites' machines: one sshd each, logging in root with the test's key
# only. sshd wants its privilege separation folder even with -D.
if [ ! -d /run/sshd ]; then
    mkdir -m 0755 /run/sshd
    made_run_sshd=1
fi
ssh-keygen -q -t ed25519 -N '' -C tftp-loader-test -f "$work/id_ed25519"
cp "$work/id_ed25519.pub" "$work/authorized_keys"
: >"$work/known_hosts"
for n in 1 2 3; do
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
    /usr/sbin/sshd -D -e -f "$work/site$n-sshd.conf" >"$work/site$n-sshd.log" 2>&1 &
    sshd_pids+=($!)
    echo "[127.0.30.$n]:2222 $(cut -d' ' -f1,2 "$work/site$n-host-key.pub")" >>"$work/known_hosts"
done
for n in 1 2 3; do
    for try in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.30.$n/2222") 2>/dev/null && break
        kill -0 "${sshd_pids[n - 1]}" 2>/dev/null && [ "$try" -lt 50 ] ||
            { cat "$work/site$n-sshd.log"; echo "sshd on 127.0.30.$n did not listen"; exit 1; }
        sleep 0.1
    done
done

# The units: site 1's third one never comes back after its program image,
# site 2's second one refuses every write.
unit_sim_start "$build" 127.0.31.2 --reboot-seconds 0.5
declare -A store=([127.0.31.2]="$work/store")
for unit in 127.0.31.3 127.0.31.4 127.0.32.2 127.0.32.3; do
    store[$unit]="$work/store-$unit"
    fault=()
    [ "$unit" = 127.0.31.4 ] && fault=(--dies-with-program)
    [ "$unit" = 127.0.32.3 ] && fault=(--tftp-error "2:Access violation")
    unit_sim_add "$build" "$unit" "${store[$unit]}" --reboot-seconds 0.5 "${fault[@]}"
done
(cd "$work/images" && sha256sum -- *.bin) >"$work/manifest.sha256"

cat >"$work/inventory.yml" <<EOF
sites:
  vars:
    ansible_port: 2222
    ansible_user: root
    ansible_ssh_private_key_file: $work/id_ed25519
    tftp_loader_deb: $deb
    tftp_loader_images: $work/images
    tftp_loader_jobs: 2
    tftp_loader_time_limit: 60
    tftp_loader_wait_limit: 3 # the unit that never comes back is given up after it
    tftp_loader_manifest: $work/manifest.sha256
    tftp_loader_poll_seconds: 2
    tftp_loader_install_throttle: 1 # the sites share this machine
  hosts:
    site1:
      ansible_host: 127.0.30.1
      tftp_loader_site_dir: $work/site1
      tftp_loader_units: [127.0.31.2, 127.0.31.3, 127.0.31.4]
    site2:
      ansible_host: 127.0.30.2
      tftp_loader_site_dir: $work/site2
      tftp_loader_units: [127.0.32.2, 127.0.32.3]
    # A unit given twice: the fleet run stops with status 2 before it sends
    # anything, and writes no results.
    site3:
      ansible_host: 127.0.30.3
      tftp_loader_site_dir: $work/site3
      tftp_loader_units: [127.0.33.2, 127.0.33.2]
    site4:
      ansible_host: 127.0.30.4
      tftp_loader_site_dir: $work/site4
      tftp_loader_units: [127.0.34.2]
EOF
# Nothing of Ansible's or ssh's own settings or state outside $work.
mkdir -p "$work/home"
cat >"$work/ansible.cfg" <<EOF
[defaults]
forks = 4
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
ssh_args = -F /dev/null -o UserKnownHostsFile=$work/known_hosts -o GlobalKnownHostsFile=/dev/null -o IdentitiesOnly=yes -o BatchMode=yes -o ControlMaster=no
EOF
export HOME="$work/home" ANSIBLE_CONFIG="$work/ansible.cfg"
# Ansible stops at a locale that is not installed; this one always is.
export LC_ALL=C.UTF-8

# Ansible and the loader reach only loopback: every site and every unit of
# both inventories, the test's and the example one, is a 127.x address.
for inventory in "$work/inventory.yml" "$root/deploy/ansible/inventory.example.yml"; do
    ansible-inventory -i "$inventory" --list | python3 -c '
import ipaddress, json, sys
def loopback(address):
    try:
        return ipaddress.ip_address(address).is_loopback
    except ValueError:  # a name: it could resolve to anything
        return False
hostvars = json.load(sys.stdin)["_meta"]["hostvars"]
outside = [address for site, v in hostvars.items()
           for address in [v.get("ansible_host", site)] + v.get("tftp_loader_units", [])
           if not loopback(address)]
sys.exit(f"not loopback: {outside}" if outside or not hostvars else 0)' ||
        { echo "$inventory names addresses that are not on loopback"; exit 1; }
done

playbook=(timeout 240 ansible-playbook -i "$work/inventory.yml" "$root/deploy/ansible/fleet.yml"
    -e "fleet_report_dir=$work/report")

# Check mode: no install, no copy, no run, no report. One site is enough
# to show it, and spares the time of the others.
status=0
ran_playbook=1 # from here on, a tftp-loader on this machine is the playbook's
"${playbook[@]}" --check --limit site1,localhost >"$work/check.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the run in check mode ended with status $status"
installed && fail "the run in check mode installed tftp-loader"
for path in "$work"/site[1-4] "$work/report"; do
    [ ! -e "$path" ] || fail "the run in check mode made $path"
done
for unit in "${!store[@]}"; do
    [ -z "$(ls -A "${store[$unit]}")" ] || fail "the run in check mode sent images to $unit"
done
[ "$failed" -eq 0 ] || cat "$work/check.log"

start=$SECONDS
status=0
"${playbook[@]}" >"$work/run.log" 2>&1 || status=$?
echo "the playbook took $((SECONDS - start)) s and ended with status $status"

# The playbook fails because of the refusing unit, the unit that did not
# come back, the unreachable site and the site whose run failed, on the
# controller, after the report.
[ "$status" -eq 2 ] || fail "the playbook ended with status $status, not 2 (a host failed)"
grep -qE '^localhost +: .*failed=1' "$work/run.log" || fail "the report's last step did not fail"
# The loader writes an address as its address field shows it, 127.000.032.003.
address_re() { sed -E 's/([0-9]+)/0*\1/g; s/\./\\./g' <<<"$1"; }
not_updated=$(grep -F 'Not updated: ' "$work/run.log" || true)
for what in "site2 $(address_re 127.0.32.3) failed" "site1 $(address_re 127.0.31.4) failed" \
    "site3 \(site\) site failed" \
    "site4 \(site\) unreachable"; do
    grep -qE "$what" <<<"$not_updated" || fail "the failure does not name \"$what\": $not_updated"
done
for site in site1 site2 site3; do
    grep -qE "^$site +: .*failed=0" "$work/run.log" || fail "$site did not end cleanly"
done

# The merged report, row by row.
python3 - "$work/report/fleet-report.json" "$work/images" <<'EOF' || fail "the merged report is not as expected"
import hashlib, json, sys
rows = json.load(open(sys.argv[1]))
sha = {name: hashlib.sha256(open(f"{sys.argv[2]}/{name}", "rb").read()).hexdigest()
       for name in ["pagesV1.bin", "firmware.bin"]}
fields = ["address", "revision", "web_page_image", "program_image", "step", "outcome", "result",
          "seconds", "succeeded", "verified", "web_page_sha256", "program_sha256", "site"]
good = {"127.0.31.2": "site1", "127.0.31.3": "site1", "127.0.32.2": "site2"}
bad = []
def check(ok, text):
    if not ok:
        bad.append(text)
# The loader writes an address as its address field shows it, 127.000.032.003.
units = {".".join(str(int(n)) for n in row["address"].split(".")): row
         for row in rows if row.get("address")}
check(len(rows) == 7, f"{len(rows)} rows, not 7")
sent = {"web_page_sha256": sha["pagesV1.bin"], "program_sha256": sha["firmware.bin"]}
for address, site in good.items():
    row = units.get(address, {})
    check(sorted(row) == sorted(fields), f"{address}: fields {sorted(row)}")
    check(row.get("site") == site and row.get("succeeded") is True
          and row.get("outcome") == "succeeded" and row.get("revision") == 171
          and row.get("web_page_image") == "pagesV1.bin"
          and row.get("program_image") == "firmware.bin" and row.get("verified") is True
          and all(row.get(k) == v for k, v in sent.items()), f"{address}: {row}")
gone = units.get("127.0.31.4", {})
check(gone.get("site") == "site1" and gone.get("succeeded") is False
      and gone.get("verified") is False and gone.get("step") == "verify"
      and gone.get("outcome") == "failed" and "did not come back" in gone.get("result", "")
      and all(gone.get(k) == v for k, v in sent.items()), f"127.0.31.4: {gone}")
refused = units.get("127.0.32.3", {})
check(refused.get("site") == "site2" and refused.get("succeeded") is False
      and refused.get("outcome") == "failed" and "Access violation" in refused.get("result", "")
      and refused.get("verified") is False and refused.get("web_page_sha256") is None
      and refused.get("program_sha256") is None, f"127.0.32.3: {refused}")
sites = {row.get("site"): row for row in rows if row.get("address") is None}
check(sorted(sites) == ["site3", "site4"], f"site rows: {list(sites.values())}")
site = sites.get("site4", {})
check(site.get("outcome") == "unreachable" and site.get("succeeded") is False
      and site.get("units") == ["127.0.34.2"] and "127.0.30.4" in site.get("result", ""),
      f"site4: {site}")
site = sites.get("site3", {})
check(site.get("outcome") == "site failed" and site.get("succeeded") is False
      and site.get("units") == ["127.0.33.2", "127.0.33.2"]
      and "status 2" in site.get("result", "") and "given twice" in site.get("result", ""),
      f"site3: {site}")
for text in bad:
    print(text)
sys.exit(1 if bad else 0)
EOF
table="$work/report/fleet-report.txt"
grep -qE "^site2 +$(address_re 127.0.32.3) +.*failed" "$table" || fail "the table has no failed row for 127.0.32.3"
grep -qE "^site1 +$(address_re 127.0.31.2) +.* yes +succeeded" "$table" || fail "the table has no verified row for 127.0.31.2"
grep -qE "^site1 +$(address_re 127.0.31.4) +.* no +failed" "$table" || fail "the table has no unverified row for 127.0.31.4"
grep -qE '^site4 +- +.*unreachable' "$table" || fail "the table has no unreachable row for site4"
grep -qE '^site3 +- +.*site failed' "$table" || fail "the table has no failed row for site3"

# Every good unit stored both images byte for byte, and so did the one that
# did not come back after them; the refusing one none.
for unit in 127.0.31.2 127.0.31.3 127.0.31.4 127.0.32.2; do
    cmp -s "$work/images/pagesV1.bin" "${store[$unit]}/rrpages.bin" || fail "$unit: web-page image"
    cmp -s "$work/images/firmware.bin" "${store[$unit]}/rrboot.bin" || fail "$unit: program image"
done
[ -z "$(ls -A "${store[127.0.32.3]}")" ] || fail "127.0.32.3 stored what it refused"

if [ "$failed" -ne 0 ]; then
    cat "$work/run.log"
    [ ! -f "$table" ] || cat "$table"
fi
[ "$failed" -eq 0 ] && echo "4 sites: 3 units updated and verified; the refusing unit, the unit not verified, the failed run and the unreachable site reported"
exit "$failed"
