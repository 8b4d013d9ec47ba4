// The conversation between a test program that runs where the simulated
// unit cannot (a Windows test program under Wine) and unit-sim-host, which
// runs one TUnitSim per connection on the Linux side of the loopback. Every
// message is a text or byte blob sent as its length in decimal, a line feed,
// and the bytes. The first message of a connection holds the unit's settings,
// answered with the unit's store folder; after it come commands, each
// answered: "start" ("ok" or the failure's text), "stop", "homepage" and the
// page, "requests", "useragents", "clienterrors", "reboots", "images" (their
// count, then each one's remote name, file, size and block size). Paths are
// the host's.
// Closing the connection stops the unit; the host closes its side once the
// unit and its own store folder are gone.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/unit-sim/UnitSim.h"

/// The socket calls of one connection: write all bytes; read up to n bytes
/// (0 at the end of the connection).
struct TUnitSimWire {
    std::function<void(const char*, std::size_t)> Write;
    std::function<std::size_t(char*, std::size_t)> Read;

    void Send(std::string_view blob) {
        const std::string length = std::to_string(blob.size()) + "\n";
        Write(length.data(), length.size());
        Write(blob.data(), blob.size());
    }

    std::string Receive() {
        std::string length;
        for (char c = 0; c != '\n';) {
            if (Read(&c, 1) != 1 || length.size() > 20)
                throw std::runtime_error("unit-sim-host: connection closed");
            if (c != '\n')
                length += c;
        }
        std::string blob(std::stoul(length), '\0');
        for (std::size_t got = 0; got < blob.size();) {
            const std::size_t n = Read(blob.data() + got, blob.size() - got);
            if (n == 0)
                throw std::runtime_error("unit-sim-host: connection closed");
            got += n;
        }
        return blob;
    }
};

/// Lines joined by line feeds, and back (texts hold no line feed).
inline std::string JoinWireLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

inline std::vector<std::string> SplitWireLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

/// A direction's loss rates as "drop,duplicate,delay,reorder".
inline std::string EncodeRates(const TLossRates& r) {
    return std::to_string(r.Drop) + "," + std::to_string(r.Duplicate) + "," +
           std::to_string(r.Delay) + "," + std::to_string(r.Reorder);
}

inline TLossRates DecodeRates(const std::string& text) {
    TLossRates r;
    double* const fields[] = {&r.Drop, &r.Duplicate, &r.Delay, &r.Reorder};
    std::size_t start = 0;
    for (double* field : fields) {
        const std::size_t end = text.find(',', start);
        *field = std::stod(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return r;
}

/// The settings as "name=value" lines: every field, so that neither side's
/// defaults matter.
inline std::string EncodeSettings(const TUnitSimSettings& s) {
    return JoinWireLines({
        "Address=" + s.Address,
        "HttpPort=" + std::to_string(s.HttpPort),
        "TftpPort=" + std::to_string(s.TftpPort),
        "Revision=" + s.Revision,
        "RebootTime=" + std::to_string(s.RebootTime.count()),
        "Store=" + s.Store,
        "TftpEnabled=" + std::to_string(s.TftpEnabled),
        "Print=" + std::to_string(s.Print),
        "TftpSilent=" + std::to_string(s.TftpSilent),
        "ErrorCode=" + std::to_string(s.ErrorCode),
        "ErrorText=" + s.ErrorText,
        "Oack=" + std::to_string(static_cast<int>(s.Oack)),
        "ForcedBlockSize=" + std::to_string(s.ForcedBlockSize),
        "ReplyFromOtherPort=" + std::to_string(s.ReplyFromOtherPort),
        "NeverComesBack=" + std::to_string(s.NeverComesBack),
        "DiesWithProgram=" + std::to_string(s.DiesWithProgram),
        "LossToServer=" + EncodeRates(s.Loss.Rates[ldToServer]),
        "LossToClient=" + EncodeRates(s.Loss.Rates[ldToClient]),
        "LossSeed=" + std::to_string(s.Loss.Seed),
        "LossDelayTime=" + std::to_string(s.Loss.DelayTime.count()),
        "LossReorderLimit=" + std::to_string(s.Loss.ReorderLimit.count()),
    });
}

inline TUnitSimSettings DecodeSettings(const std::string& text) {
    TUnitSimSettings s;
    for (const std::string& line : SplitWireLines(text)) {
        const auto eq = line.find('=');
        const std::string name = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        const auto number = [&value] { return std::stol(value); };
        if (name == "Address")
            s.Address = value;
        else if (name == "HttpPort")
            s.HttpPort = static_cast<std::uint16_t>(number());
        else if (name == "TftpPort")
            s.TftpPort = static_cast<std::uint16_t>(number());
        else if (name == "Revision")
            s.Revision = value;
        else if (name == "RebootTime")
            s.RebootTime = std::chrono::milliseconds(number());
        else if (name == "Store")
            s.Store = value;
        else if (name == "TftpEnabled")
            s.TftpEnabled = number() != 0;
        else if (name == "Print")
            s.Print = number() != 0;
        else if (name == "TftpSilent")
            s.TftpSilent = number() != 0;
        else if (name == "ErrorCode")
            s.ErrorCode = static_cast<int>(number());
        else if (name == "ErrorText")
            s.ErrorText = value;
        else if (name == "Oack")
            s.Oack = static_cast<TOackMode>(number());
        else if (name == "ForcedBlockSize")
            s.ForcedBlockSize = static_cast<std::uint16_t>(number());
        else if (name == "ReplyFromOtherPort")
            s.ReplyFromOtherPort = number() != 0;
        else if (name == "NeverComesBack")
            s.NeverComesBack = number() != 0;
        else if (name == "DiesWithProgram")
            s.DiesWithProgram = number() != 0;
        else if (name == "LossToServer")
            s.Loss.Rates[ldToServer] = DecodeRates(value);
        else if (name == "LossToClient")
            s.Loss.Rates[ldToClient] = DecodeRates(value);
        else if (name == "LossSeed")
            s.Loss.Seed = std::stoull(value);
        else if (name == "LossDelayTime")
            s.Loss.DelayTime = std::chrono::milliseconds(number());
        else if (name == "LossReorderLimit")
            s.Loss.ReorderLimit = std::chrono::milliseconds(number());
    }
    return s;
}
