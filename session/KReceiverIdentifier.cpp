#include "session/KReceiverIdentifier.h"

#include <algorithm>

#include "comm/KNetworkComm.h"
#include "comm/KRecordedComm.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"
#include "time/KClock.h"

namespace {

constexpr const char* kClientName = "Identify";
constexpr int32_t kReadPauseMs = 50;
// Framing the heard bytes again this often lets a listen end as soon as a protocol is heard.
constexpr int32_t kJudgeEveryMs = 250;
// One checked message can be luck (an 8-bit checksum passes one frame of noise in 256); two
// in one listen are not.
constexpr uint64_t kMessagesToClaim = 2;

} // namespace

std::vector<int32_t> KReceiverIdentifier::SearchOrder() {
    // Factory settings and the rates base stations are usually set to first; the slow rates
    // last, where every ping also waits longest. Rates only some types run at come after, those
    // this system can set.
    std::vector<int32_t> order = {9600, 115200, 38400, 19200, 57600, 4800, 2400, 1200};
    std::vector<int32_t> more;
    for (const KCatalogueType* type : CatalogueTypes())
        for (int32_t rate : type->rates)
            if (SystemSetsRate(rate) && std::find(order.begin(), order.end(), rate) == order.end() &&
                std::find(more.begin(), more.end(), rate) == more.end())
                more.push_back(rate);
    std::sort(more.begin(), more.end());
    order.insert(order.end(), more.begin(), more.end());
    return order;
}

std::vector<KReceiverIdentifier::AskStep> KReceiverIdentifier::AskOrder(const std::vector<int32_t>& rates,
                                                                        const std::vector<Heard>& heard) {
    // A receiver talking plain NMEA (as many do by default) is heard but not told apart by
    // listening; asking at the rate it talks at first finds it in a request or two instead of
    // after every family at every rate before it.
    std::vector<const Heard*> talked;
    for (const Heard& h : heard)
        if (h.checkedMessages >= kMessagesToClaim && std::find(rates.begin(), rates.end(), h.baud) != rates.end())
            talked.push_back(&h);
    std::stable_sort(talked.begin(), talked.end(),
                     [](const Heard* a, const Heard* b) { return a->checkedMessages > b->checkedMessages; });
    std::vector<AskStep> steps;
    auto add = [&steps](int32_t baud, const std::vector<const KReceiverFamily*>& first) {
        for (const AskStep& step : steps)
            if (step.baud == baud) return;
        AskStep step{baud, first};
        for (const KReceiverFamily& family : ReceiverFamilies())
            if (std::find(first.begin(), first.end(), &family) == first.end()) step.families.push_back(&family);
        steps.push_back(std::move(step));
    };
    for (const Heard* h : talked) add(h->baud, h->checkedBy);
    for (int32_t baud : rates) add(baud, {});
    return steps;
}

const KReceiverFamily* KReceiverIdentifier::Recognise(const std::vector<uint8_t>& bytes, Heard& heard) {
    heard.bytes = bytes.size();
    heard.protocols.clear();
    heard.checkedMessages = 0;
    heard.checkedBy.clear();
    const KReceiverFamily* best = nullptr;
    uint64_t bestBytes = 0;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (!family.protocol.createMonitor) continue;
        std::unique_ptr<KStreamMonitor> monitor = family.protocol.createMonitor();
        KRecordedComm recording(bytes);
        recording.Open(0);
        monitor->Start(&recording, false, kClientName);
        uint64_t messages = 0;
        uint64_t messageBytes = 0;
        uint64_t checked = 0;
        for (;;) {
            const bool progressed = monitor->ReadStep();
            while (auto message = monitor->PopMessage()) {
                ++checked;
                if (!monitor->ProvesProtocol(*message)) continue;
                ++messages;
                messageBytes += static_cast<uint64_t>(message->length);
            }
            if (!progressed) break;
        }
        monitor->Stop();
        if (!family.protocol.listeningProves) heard.checkedMessages = std::max(heard.checkedMessages, checked);
        if (checked >= kMessagesToClaim) heard.checkedBy.push_back(&family);
        if (messages == 0) continue;
        heard.protocols.push_back({&family, messages, messageBytes});
        if (messages >= kMessagesToClaim && messageBytes > bestBytes) {
            best = &family;
            bestBytes = messageBytes;
        }
    }
    // Only a framer whose messages prove nothing (plain NMEA) tells the rate this way: others
    // pass on messages that prove nothing for a reason, and some frame such messages from noise.
    if (heard.checkedMessages < kMessagesToClaim) heard.checkedBy.clear();
    return best;
}

KReceiverIdentifier::Result KReceiverIdentifier::Run(int32_t portNumber, const std::string& devicePath,
                                                     const Options& options,
                                                     const std::function<void(const std::string&)>& progress) {
    Result result;
    port = portNumber;
    path = devicePath;
    KClock& clock = KClock::Current();
    const int64_t listenStart = clock.NowMs();
    auto stopWanted = [&] {
        if (options.stopWanted && options.stopWanted()) result.stopped = true;
        return result.stopped;
    };
    // Changing the rate of a raw network port changes nothing: one listen, and one ask each.
    result.rateFixed = IsFixedRatePort(devicePath);
    const std::vector<int32_t> order = result.rateFixed ? std::vector<int32_t>{SearchOrder().front()} : SearchOrder();
    for (int32_t baud : order) {
        if (stopWanted()) return result;
        if (progress) progress(result.rateFixed ? "listening at the server's rate" : "listening at " + std::to_string(baud) + " baud");
        if (!Listen(baud, options, result) || result.stopped) return result;
        if (result.found) break;
    }
    result.listenMs = static_cast<int32_t>(clock.NowMs() - listenStart);
    if (result.found || !options.ask) return result;
    const int64_t askStart = clock.NowMs();
    for (const AskStep& step : AskOrder(order, result.heard)) {
        for (const KReceiverFamily* family : step.families) {
            if (stopWanted()) return result;
            if (progress) progress("asking at " + std::to_string(step.baud) + " baud: " + family->name);
            if (!Ask(*family, step.baud, result)) return result;
            if (result.found) break;
        }
        if (result.found) break;
    }
    result.askMs = static_cast<int32_t>(clock.NowMs() - askStart);
    return result;
}

std::unique_ptr<KSerialComm> KReceiverIdentifier::OpenAt(int32_t baud, Result& result) {
    std::unique_ptr<KSerialComm> link = links();
    if (link) {
        link->PortNumber = port;
        link->DevicePath = path;
        link->BaudRate = baud;
        if (link->Open(0)) return link;
    }
    result.portFailed = true;
    return nullptr;
}

const KReceiverFamily* KReceiverIdentifier::ListenOn(KComm& link, int32_t baud, const Options& options, Heard& heard,
                                                    const std::function<bool()>& stop) {
    KClock& clock = KClock::Current();
    const int64_t start = clock.NowMs();
    const int64_t limitMs = std::max<int64_t>(options.listenMs, int64_t{options.listenBytes} * 10 * 1000 / baud);
    heard = Heard{};
    heard.baud = baud;
    std::vector<uint8_t> bytes;
    // Small reads: a pseudo-terminal's read goes on filling the buffer while bytes keep arriving,
    // and a large one would outlast the time the listen has.
    uint8_t buffer[256];
    int64_t judged = start;
    const KReceiverFamily* family = nullptr;
    for (;;) {
        for (int32_t n; (n = link.ReadAvailable(buffer, sizeof buffer)) > 0;) {
            bytes.insert(bytes.end(), buffer, buffer + n);
            if (clock.NowMs() - start >= limitMs) break;
        }
        if (options.stopWanted && options.stopWanted()) break;
        const int64_t now = clock.NowMs();
        const bool over = now - start >= limitMs || (bytes.empty() && now - start >= options.listenQuietMs) ||
                          (stop && stop());
        if (over || now - judged >= kJudgeEveryMs) {
            judged = now;
            family = Recognise(bytes, heard);
            if (family || over) break;
        }
        clock.Sleep(kReadPauseMs);
    }
    heard.listenedMs = static_cast<int32_t>(clock.NowMs() - start);
    return family;
}

bool KReceiverIdentifier::Listen(int32_t baud, const Options& options, Result& result) {
    std::unique_ptr<KSerialComm> link = OpenAt(baud, result);
    if (!link) return false;
    Heard heard;
    const KReceiverFamily* family = ListenOn(*link, baud, options, heard);
    link->Close();
    if (options.stopWanted && options.stopWanted()) result.stopped = true;
    if (family) {
        result.found = true;
        result.byListening = true;
        result.family = family;
        result.baud = baud;
        for (const Heard::Protocol& p : heard.protocols)
            if (p.family == family) result.messages = p.messages;
    }
    result.heard.push_back(std::move(heard));
    return true;
}

bool KReceiverIdentifier::Ask(const KReceiverFamily& family, int32_t baud, Result& result) {
    if (family.types.empty() || !family.types.front().RunsAt(baud)) return true;
    // A port of its own for every ping: what one family's request stirred up is not read as
    // the next one's answer.
    std::unique_ptr<KSerialComm> link = OpenAt(baud, result);
    if (!link) return false;
    const KCatalogueType& type = family.types.front();
    std::unique_ptr<KReceiver> receiver = receivers(type.typeId);
    Asked asked{&family, type.typeId, baud, false, 0};
    if (receiver && receiver->Attach(link.get(), kClientName)) {
        KClock& clock = KClock::Current();
        const int64_t start = clock.NowMs();
        asked.answered = receiver->Ping(type.timings.DetectPingMs(baud));
        asked.waitedMs = static_cast<int32_t>(clock.NowMs() - start);
        receiver->Detach();
    }
    // The link goes before the receiver, as in a session.
    link->Close();
    link.reset();
    receiver.reset();
    result.asked.push_back(asked);
    if (asked.answered) {
        result.found = true;
        result.family = &family;
        result.baud = baud;
    }
    return true;
}
