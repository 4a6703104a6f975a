#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

class KUbloxStreamMonitor;

// A u-blox receiver of any generation, over UBX. MON-VER is the ping, and its PROTVER extension
// tells the generation. A CFG-PRT poll without payload answers the settings of the port it came
// in on (generations 8 and 9); later generations refuse it with ACK-NAK and have one UART. The
// rate is set on that port only, never on the other UART, where a radio or a logger may listen:
// by CFG-PRT with the polled mode and protocol masks (generation 8) or by VALSET of the port's
// CFG-UARTn-BAUDRATE in RAM (9 and later). The acknowledgement may come at the old rate, the new
// one or not at all: only a refusal counts, and the ping at the new rate is the proof.
// The receiver's periodic output is left as it was: u-blox answers polls amid its output.
class KUbloxReceiver : public KReceiver {
public:
    static constexpr int32_t kTypeId = 15;
    static constexpr std::array<int32_t, 9> kRates = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

    // Message classes and ids.
    static constexpr uint8_t kClassNav = 0x01, kClassRxm = 0x02, kClassAck = 0x05, kClassCfg = 0x06, kClassMon = 0x0A;
    static constexpr uint8_t kIdAckNak = 0x00, kIdAckAck = 0x01;
    static constexpr uint8_t kIdCfgPrt = 0x00, kIdCfgCfg = 0x09, kIdCfgValset = 0x8A;
    static constexpr uint8_t kIdMonVer = 0x04;
    static constexpr uint8_t kIdNavPvt = 0x07, kIdNavTimeGps = 0x20, kIdRxmRawx = 0x15;
    static constexpr uint32_t kKeyUart1Baudrate = 0x40520001, kKeyUart2Baudrate = 0x40530001;
    static constexpr uint8_t kLayerRam = 0x01, kLayerBbr = 0x02, kLayerFlash = 0x04;
    static constexpr size_t kPrtLength = 20;

    explicit KUbloxReceiver(bool readerThread = true);
    ~KUbloxReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    bool QueryTime(KGPSTime& time) override;
    bool Ping(int32_t timeoutMs) override;
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override;
    void OnDetach() override {}
    // SaveRate: Saved once acknowledged, else Failed.
    SaveOutcome SaveSettings(int32_t baud) override;

    // Makes `baud`, the rate the port now runs at, survive a power cycle: VALSET of the port's
    // rate to the battery-backed and flash layers (generation 9 and later), or CFG-CFG saving the
    // port settings (generation 8). True once the receiver acknowledged it.
    bool SaveRate(int32_t baud);

    // What the last MON-VER said (0 until then): 8, 9, 10 or 20.
    int32_t Generation() const { return generation; }
    // The UART the cable is on, once known (1 or 2), else 0.
    int32_t Port() const { return port; }

    // The generation of a PROTVER major number: up to 23 is u-blox 8, 27 to 33 generation 9,
    // 34 to 49 generation 10, from 50 generation 20.
    static int32_t GenerationOfProtocol(int32_t protocolMajor);
    // The PROTVER major number in a MON-VER payload, or 0 when it names none.
    static int32_t ProtocolOfVersion(const uint8_t* payload, size_t length);
    static bool IsRate(int32_t baud);

    // The receiver of catalogue type 15; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // Writes one UBX frame around `payload`.
    bool SendUbx(uint8_t messageClass, uint8_t id, const std::vector<uint8_t>& payload);

private:
    enum class Answer { Taken, Refused, None };
    // Waits for ACK-ACK or ACK-NAK of the message class/id.
    Answer WaitForAcknowledgement(uint8_t messageClass, uint8_t id, int32_t budgetMs);
    // Polls CFG-PRT for the port the link is on; learns the port and keeps its settings.
    bool LearnPort();
    bool SendValset(uint8_t layers, int32_t baud);

    KUbloxStreamMonitor* framer;
    int32_t generation = 0;
    int32_t port = 0;
    std::vector<uint8_t> portSettings;  // the CFG-PRT payload as polled
};
