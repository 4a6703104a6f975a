#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/KBaudSession.h"

class KComm;
struct KReceiverFamily;

// What the device on a port is: which family's protocol it speaks and at which rate. It first
// only listens, at every rate, and frames what arrives with every family's framer: a talking
// receiver is found without a byte sent to it. Only when that finds nothing does it ask, with
// each family's ping (a query that changes nothing on the receiver), the common rates first.
class KReceiverIdentifier {
public:
    struct Options {
        bool ask = true;
        // Listening at a rate ends once a protocol is heard, after `listenQuietMs` when nothing
        // at all arrived, and at the latest after `listenMs` or the time `listenBytes` take on
        // the line at that rate, whichever is longer (a slow line needs longer for two messages).
        int32_t listenMs = 2500;
        int32_t listenBytes = 800;
        int32_t listenQuietMs = 1200;
        // Asked while listening and between requests: true ends the search early, its port
        // closed, with Result::stopped set.
        std::function<bool()> stopWanted;
    };

    // What was heard at one rate: the bytes, and per protocol the checked messages framed.
    struct Heard {
        int32_t baud = 0;
        uint64_t bytes = 0;
        int32_t listenedMs = 0;
        struct Protocol {
            const KReceiverFamily* family;
            uint64_t messages;
            uint64_t messageBytes;
        };
        std::vector<Protocol> protocols;  // those that framed anything
        // Checked messages that prove no family (plain NMEA) still show that the line runs at
        // this rate: the most that a framer of such a family framed, and, when that is two or
        // more, every family whose framer framed at least two messages, proving or not.
        uint64_t checkedMessages = 0;
        std::vector<const KReceiverFamily*> checkedBy;
    };
    // One ping sent.
    struct Asked {
        const KReceiverFamily* family = nullptr;
        int32_t type = 0;
        int32_t baud = 0;
        bool answered = false;
        int32_t waitedMs = 0;
    };

    struct Result {
        bool portFailed = false;  // the port would not open (its error was reported)
        bool stopped = false;     // ended early because stopWanted said so
        bool found = false;
        bool byListening = false;
        const KReceiverFamily* family = nullptr;
        int32_t baud = 0;
        // A port whose rate the server fixes (socket://): heard once, at whatever rate that is;
        // `baud` then says nothing of the line.
        bool rateFixed = false;
        uint64_t messages = 0;  // checked messages heard at that rate (by listening)
        int32_t listenMs = 0;   // time spent listening, all rates
        int32_t askMs = 0;      // time spent asking
        std::vector<Heard> heard;
        std::vector<Asked> asked;
    };

    // The rates in the order a search tries them: the ones receivers most often run at first.
    static std::vector<int32_t> SearchOrder();
    // One rate's requests: the families to ask there, in order.
    struct AskStep {
        int32_t baud = 0;
        std::vector<const KReceiverFamily*> families;
    };
    // The order of the requests after listening heard `heard` over `rates`: first the rates where
    // checked messages were heard (most first), asking there first the families whose framers
    // framed them; then the other rates in `rates` order, every family in registry order.
    static std::vector<AskStep> AskOrder(const std::vector<int32_t>& rates, const std::vector<Heard>& heard);
    // The protocol heard in `bytes`, if any: the family whose framer finds at least two checked
    // messages, the one covering most bytes when several do. Fills `heard` with every framer's
    // count.
    static const KReceiverFamily* Recognise(const std::vector<uint8_t>& bytes, Heard& heard);

    // Listens on `link`, already open at `baud`, as a search does at one rate (bounded by
    // `options`), and frames what arrives with every framer; also ends when `stop` answers true.
    // Fills `heard` and answers the protocol heard, if any.
    static const KReceiverFamily* ListenOn(KComm& link, int32_t baud, const Options& options, Heard& heard,
                                           const std::function<bool()>& stop = {});

    KReceiverIdentifier(KBaudSession::LinkFactory linkFactory, KBaudSession::ReceiverFactory receiverFactory)
        : links(std::move(linkFactory)), receivers(std::move(receiverFactory)) {}

    // Identifies the device on port `portNumber` (or the device at `devicePath` when not empty).
    Result Run(int32_t portNumber, const std::string& devicePath, const Options& options,
               const std::function<void(const std::string&)>& progress = {});

private:
    std::unique_ptr<KSerialComm> OpenAt(int32_t baud, Result& result);
    bool Listen(int32_t baud, const Options& options, Result& result);
    bool Ask(const KReceiverFamily& family, int32_t baud, Result& result);

    KBaudSession::LinkFactory links;
    KBaudSession::ReceiverFactory receivers;
    int32_t port = 0;
    std::string path;
};
