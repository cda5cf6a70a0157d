#pragma once

#include <QByteArray>
#include <QList>

#include <optional>
#include <vector>

// What the virtual module holds and how it misbehaves on demand.
struct ModuleIdentity {
    QByteArray serialNumber = "20240001";                       // 8 characters
    QByteArray firmwareVersion = "03.20-01";                    // 8 characters
    QByteArray customerRegister = "DEMO CUSTOMER REGISTER 0000001"; // 30 characters
    int lineSettingsIndex = 5;
};

struct ModuleFaults {
    bool silent = false;
    bool badCheck = false;
    bool lowercaseCheck = false;
    bool noise = false;
    int serialFrameLength = 15; // 14, 15 or 16
    QList<QByteArray> ignoredCommands;
    int answerFrom = 1; // first request (counted from 1) that gets an answer
    QByteArray silentAfter; // once a request starting with this is answered, no more answers; empty: none
};

// One frame as it came in: what stood between 0x0F and the check digits, and whether its check holds.
struct Request {
    QByteArray frame;
    QByteArray text;
    bool checkHolds = false;
};

// Cuts the incoming byte stream into request frames; garbage and overlong frames are dropped.
class RequestReader {
public:
    static constexpr int kMaxFrameLength = 1024;

    std::vector<Request> feed(const QByteArray &bytes);

private:
    QByteArray m_frame;
    bool m_inFrame = false;
};

struct Answer {
    QByteArray bytes;                    // what goes on the line, stray bytes included
    std::optional<int> newLineSettings;  // index to switch to once the reply is out
    QByteArray note;                     // why there is no answer, or what changed
};

// The module's command set: a request text in, the reply (or none) out.
class VirtualModule {
public:
    VirtualModule(const ModuleIdentity &identity, const ModuleFaults &faults);

    // Called for every request heard at the module's baud rate with a good check.
    Answer answer(const QByteArray &text);

    int lineSettingsIndex() const { return m_identity.lineSettingsIndex; }
    void setLineSettingsIndex(int index) { m_identity.lineSettingsIndex = index; }
    const QByteArray &customerRegister() const { return m_identity.customerRegister; }

    // The reply frame for a text, with the check faults applied.
    QByteArray replyFrame(const QByteArray &text) const;
    // Bytes sent before a reply with --noise: no 0x0F, but a 0x0D and a zero byte among them.
    static QByteArray noiseBytes();
    // -1 for a code that is not one upper-case hexadecimal digit of 0..B.
    static int baudCodeIndex(char code);

private:
    std::optional<QByteArray> replyText(const QByteArray &text, Answer &answer);

    ModuleIdentity m_identity;
    ModuleFaults m_faults;
    int m_requestsHeard = 0;
    bool m_stopped = false; // silentAfter came
};
