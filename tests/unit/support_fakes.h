// In-memory doubles for the support program's device and platform interfaces.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include "escpos/framing.h"
#include "support/devices.h"
#include "support/system.h"

namespace tovi::support::testing {

// Records every call as "name(args)"; data arguments as bytes. Results are settable.
struct FakeDevices final : DeviceLibraries {
    struct Call {
        std::string name;
        std::string port;  // winWriteFile's port name
        std::string data;
        int a = 0;
        int b = 0;
    };
    std::vector<Call> calls;
    int printResult = 0;
    int writeResult = 0;
    bool printBytes = true;  // the library has winPrintBytes
    int initResult = 1;
    int sendResult = 1;
    // winPrinterStatus: absent unless answers are given; each call takes the next (result, record).
    std::deque<std::pair<int, WinPrinterStatus>> statusAnswers;

    int winPrint(const char* data) override {
        // No length: the data ends where the real library ends it.
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        calls.push_back({"winPrint", {}, std::string(data, tovi::escpos::escposJobLength(bytes)), 0, 0});
        return printResult;
    }
    bool hasWinPrintBytes() const override { return printBytes; }
    int winPrintBytes(const char* data, int length) override {
        calls.push_back({"winPrintBytes", {}, std::string(data, static_cast<std::size_t>(length)), length, 0});
        return printResult;
    }
    int winWriteFile(const char* port, const char* data, int length) override {
        calls.push_back({"winWriteFile", port, std::string(data, static_cast<std::size_t>(length)), length, 0});
        return writeResult;
    }
    bool hasPrinterStatus() const override { return !statusAnswers.empty(); }
    int printerStatus(const char* port, int checkOnly, WinPrinterStatus* status) override {
        calls.push_back({"winPrinterStatus", port, {}, checkOnly, 0});
        const auto [result, record] = statusAnswers.front();
        if (statusAnswers.size() > 1) statusAnswers.pop_front();
        *status = record;
        return result;
    }
    int comInit(int port, int baud) override {
        calls.push_back({"com_init", {}, {}, port, baud});
        return initResult;
    }
    int comSend(const char* data, int length) override {
        calls.push_back({"com_send", {}, std::string(data, static_cast<std::size_t>(length)), length, 0});
        return sendResult;
    }
    int comRest() override {
        calls.push_back({"com_rest", {}, {}, 0, 0});
        return 1;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& c : calls) out.push_back(c.name);
        return out;
    }
};

struct FakeSystem final : SupportSystem {
    std::vector<std::string> messages;
    std::map<std::string, std::string> files;  // path -> content
    std::vector<std::string> unreadable;  // exist, but opening fails
    std::vector<int> sleeps;
    std::vector<std::pair<std::string, std::string>> moves;
    std::deque<MoveResult> moveResults;  // consumed per attempt; empty: moved
    int clientStarts = 0;
    std::vector<std::string> events;  // sleep/move/start/message in call order

    void showMessage(const std::string& text) override {
        messages.push_back(text);
        events.push_back("message");
    }
    EntryKind fileKind(const std::string& path) override {
        for (const auto& f : unreadable) {
            if (f == path) return EntryKind::File;
        }
        return files.count(path) ? EntryKind::File : EntryKind::Missing;
    }
    std::string readFile(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end()) throw ioError("cannot open: " + path);
        return it->second;
    }
    void sleepMs(int ms) override {
        sleeps.push_back(ms);
        events.push_back("sleep " + std::to_string(ms));
    }
    std::string folder = "C:\\till\\pos";
    char sep = '\\';
    std::string programFolder() override { return folder; }
    char separator() override { return sep; }
    MoveResult moveFile(const std::string& src, const std::string& dst) override {
        moves.emplace_back(src, dst);
        events.push_back("move");
        if (moveResults.empty()) return {MoveStatus::Moved, {}};
        MoveResult r = moveResults.front();
        moveResults.pop_front();
        return r;
    }
    void startClient() override {
        ++clientStarts;
        events.push_back("start");
    }
    // The watched client: ends with endStatus after endsAfterPolls waits (never when negative);
    // onPoll runs at each wait (a test proves the release there).
    int endsAfterPolls = -1;
    int endStatus = 0;
    std::function<void(int)> onPoll;
    std::vector<std::string> logged;
    struct Client final : StartedClient {
        FakeSystem& sys;
        int polls = 0;
        explicit Client(FakeSystem& s) : sys(s) {}
        std::optional<int> waitForExit(int) override {
            if (sys.onPoll) sys.onPoll(polls);
            return sys.endsAfterPolls >= 0 && ++polls > sys.endsAfterPolls ? std::optional<int>(sys.endStatus) : std::nullopt;
        }
    };
    std::unique_ptr<StartedClient> startClientWatched() override {
        ++clientStarts;
        return std::make_unique<Client>(*this);
    }
    void log(const std::string& text) override { logged.push_back(text); }
};

}  // namespace tovi::support::testing
