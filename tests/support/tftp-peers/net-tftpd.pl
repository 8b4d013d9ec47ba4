#!/usr/bin/perl
# A TFTP server on Perl's Net::TFTPd (Debian's libnet-tftpd-perl) for the
# tests: it stores write requests in ROOT, listening on IP:PORT, each
# transfer in a process of its own. As the package has it, a transfer
# answers from a socket that the host binds: another port, and the address
# the host picks for the way back, not always IP. With --own-port a transfer
# answers from IP:PORT itself, as the unit does, so that a client whose
# socket is connected to IP:PORT hears it. It ends itself after five
# minutes, should whoever started it not stop it.
#
# Usage: net-tftpd.pl [--own-port] IP PORT ROOT
use strict;
use warnings;

use IO::Socket::IP;
use Net::TFTPd;
use Socket qw(SOL_SOCKET SO_REUSEADDR);

my $own_port = @ARGV && $ARGV[0] eq '--own-port' ? shift @ARGV : '';
@ARGV == 3 or die "usage: $0 [--own-port] IP PORT ROOT\n";
my ($ip, $port, $root) = @ARGV;

$SIG{CHLD} = 'IGNORE'; # the transfers' processes are reaped by the system
alarm(5 * 60);

my $listener = Net::TFTPd->new(
    RootDir => $root, LocalAddr => $ip, LocalPort => $port,
    Writable => 1, ACKtimeout => 2, Timeout => 60
) or die Net::TFTPd->error;

if ($own_port) {
    # Each transfer's socket shares IP:PORT with the listener; the system
    # gives a datagram to the socket connected to its sender.
    $listener->{'_UDPSERVER_'}->sockopt(SO_REUSEADDR, 1);
    no warnings 'redefine';
    *Net::TFTPd::newSOCK = sub {
        my $self = shift;
        my $socket = IO::Socket::IP->new(
            Proto => 'udp', LocalAddr => $ip, LocalPort => $port, ReuseAddr => 1,
            PeerAddr => $self->{'_REQUEST_'}{'PeerAddr'},
            PeerPort => $self->{'_REQUEST_'}{'PeerPort'}
        ) or return undef;
        $self->{'_UDPSERVER_'} = $socket;
        return 1;
    };
}

for (;;) {
    my $request = $listener->waitRQ() or next;
    my $pid = fork();
    next if !defined $pid || $pid != 0;
    $request->processRQ();
    exit 0;
}
