// Shared vocabulary of the network library: the byte array that carries every
// datagram, the address family and reuse choices, and the alias for the
// operating system's socket value with its invalid value. Only plain types
// live here; no socket header may be included from this file.
#pragma once

#include <cstdint>
#include <vector>

/// Datagram payloads and packet buffers.
using TIdBytes = std::vector<std::uint8_t>;

/// Address family of a socket and of host resolution.
enum TIdIPVersion : std::uint8_t { Id_IPv4, Id_IPv6 };

/// How the address-reuse option is set when a socket is bound.
enum TIdReuseSocket : std::uint8_t { rsOSDependent, rsTrue, rsFalse };

/// The operating system's socket value: wide enough for a POSIX descriptor
/// and for a Windows SOCKET, whose invalid value (all bits set) is -1 here too.
using TIdStackSocketHandle = std::intptr_t;
constexpr TIdStackSocketHandle IdInvalidSocket = -1;

// Socket types, protocols, levels and options the library uses, in the
// library's own numbers (those of Linux). The POSIX stack's source file checks
// them against the system headers; a platform that numbers them otherwise
// (Windows Sockets) translates them in its stack file. Callers need not
// include any system header.
constexpr int IdSockStream = 1;
constexpr int IdSockDgram = 2;
constexpr int IdIpProtoIp = 0;
constexpr int IdSolSocket = 1;
constexpr int IdSoReuseAddr = 2;
constexpr int IdSoType = 3;
constexpr int IdSoBroadcast = 6;
constexpr int IdIpProtoTcp = 6;
constexpr int IdTcpNoDelay = 1;
