// The receive handler, driven through the in-memory serial control and main
// window by a script of operations read from the input: bytes arriving in
// chunks of any size (with or without the receive event), whole frames, other
// event codes, any text in the interval box, the clock moving (backwards and
// across midnight too), the run file closed behind the receiver's back, and
// the device disappearing.
//
// A model follows the same script: it cuts the bytes of each port session
// into frames the way the design asks (exactly 13 bytes per frame, a second
// 0xD9 starting a new frame), applies the sample and set-up rules with the
// values that live for one event, and so knows after every operation what
// the nine boxes show, which lines the run file holds and whether the
// recovery ran, for which reason. Beyond the model: nothing escapes
// MSComm1_OnComm, and an event leaves fewer than 13 bytes waiting unless the
// recovery closed the port.

#include "FuzzSupport.h"

#include "ManualClock.h"
#include "MemoryMainForm.h"
#include "MemorySerialControl.h"
#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace zelvar;

namespace {

constexpr int kRunFile = runfiles::kRunFileNumber;

std::string show(const QString& text)
{
    return "\"" + text.toStdString() + "\"";
}

// value / 10^decimals as plain text without trailing zeros.
std::string fixed(long value, int decimals)
{
    std::string digits = std::to_string(value);
    if (decimals == 0)
        return digits;
    const auto places = static_cast<std::size_t>(decimals);
    if (digits.size() < places + 1)
        digits.insert(0, places + 1 - digits.size(), '0');
    std::string integer = digits.substr(0, digits.size() - places);
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? integer : integer + "." + fraction;
}

struct Frame {
    std::array<std::uint8_t, 13> b{};

    long tick() const { return b[2] * 4096L + b[3] * 256L + b[4]; }
    long word(int at) const { return b[static_cast<std::size_t>(at)] * 256L + b[static_cast<std::size_t>(at) + 1]; }
    bool trailer() const { return b[12] == 0xFA; }
    std::uint8_t kind() const { return b[11]; }
};

// The run file, in a directory of its own for the whole campaign.
const QString& runFilePath()
{
    static const QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("Temp.dat"));
    return path;
}

class Harness {
public:
    explicit Harness(const QLocale& locale) : locale_(locale), receiver_(comm_, form_, files_, clock_, locale)
    {
        QObject::connect(&comm_, &SerialControl::OnComm, [this] {
            ++events_;
            try {
                receiver_.MSComm1_OnComm();
            } catch (const std::exception& e) {
                fuzz::fail(__FILE__, __LINE__, "nothing escapes MSComm1_OnComm", e.what());
            } catch (...) {
                fuzz::fail(__FILE__, __LINE__, "nothing escapes MSComm1_OnComm", "a non-standard exception");
            }
        });
        setBox(8, QStringLiteral("20"));
        startSession();
    }

    void setBox(int index, const QString& text)
    {
        form_.Text1(index).setText(text);
        boxes_[static_cast<std::size_t>(index)] = text;
    }

    void feed(const QByteArray& bytes, bool raise)
    {
        stream_ += bytes;
        const int before = events_;
        comm_.feed(bytes, raise);
        if (events_ != before)
            receiveEvent();
        check(raise);
    }

    void raise(int code)
    {
        const QByteArray waiting = comm_.waiting();
        comm_.raise(code);
        if (code == SerialControl::kEventReceive) {
            receiveEvent();
        } else {
            ZELVAR_FUZZ_CHECK(comm_.waiting() == waiting, "event " + std::to_string(code) + " read bytes");
        }
        check(code == SerialControl::kEventReceive);
    }

    void loseDevice()
    {
        comm_.loseDevice(QStringLiteral("pulled"));
        recovery_ = Recovery::Lost;
        check(false);
    }

    void closeRunFile()
    {
        files_.Close(kRunFile);
        fileOpen_ = false;
    }

    void moveClock(std::uint8_t how)
    {
        // Steps back and forth, or a time just after midnight, 0 included.
        if (how < 128)
            clock_.advance((how - 64) * 0.25);
        else
            clock_.set((how - 128) * 0.5);
    }

    void finish() { endSession(); }

private:
    enum class Recovery { None, Interval, FileClosed, Lost };

    void startSession()
    {
        form_.Command1().setCaption(QStringLiteral("Stop"));
        form_.Label2().setCaption(QStringLiteral("Now Running"));
        form_.Combo1().setEnabled(false);
        form_.Combo2().setEnabled(false);
        files_.OpenForOutput(kRunFile, runFilePath());
        fileOpen_ = true;
        comm_.setPortOpen(true);
        stream_.clear();
        parsed_ = 0;
        lines_.clear();
        recovery_ = Recovery::None;
    }

    // The next whole frame of the session's bytes after the last one handled;
    // nothing when the bytes so far end inside one.
    std::optional<Frame> nextFrame()
    {
        const auto n = static_cast<std::size_t>(stream_.size());
        const auto byteAt = [&](std::size_t i) {
            return static_cast<std::uint8_t>(stream_[static_cast<qsizetype>(i)]);
        };
        std::size_t i = parsed_;
        bool synced = false;
        for (;;) {
            if (!synced) {
                if (i >= n)
                    return std::nullopt;
                if (byteAt(i++) != 0xD9)
                    continue;
                synced = true;
            }
            if (i >= n)
                return std::nullopt;
            const std::uint8_t second = byteAt(i++);
            if (second == 0xD9)
                continue;
            synced = false;
            if (second != 0xAB)
                continue;
            if (n - i < 11)
                return std::nullopt;
            Frame f;
            f.b[0] = 0xD9;
            f.b[1] = 0xAB;
            for (std::size_t k = 0; k < 11; ++k)
                f.b[2 + k] = byteAt(i + k);
            parsed_ = i + 11;
            return f;
        }
    }

    QString boxForm(const std::string& text) const
    {
        return QString::fromStdString(text).replace(QLatin1Char('.'), locale_.decimalPoint());
    }

    // One receive event of the model: every whole frame waiting is handled,
    // with values that start from zero.
    void receiveEvent()
    {
        if (recovery_ != Recovery::None)
            return;
        long lastShownTick = 0;
        float lastLiveTime = 0.0F;
        while (const std::optional<Frame> f = nextFrame()) {
            std::int64_t divisor = 0;
            try {
                divisor = receive::intervalDivisor(boxes_[8], locale_);
            } catch (const RuntimeError&) {
                recovery_ = Recovery::Interval;
                return;
            }
            const bool passes = f->tick() % std::llabs(divisor) == 0;
            const bool sample = f->trailer() && passes && f->tick() != 0;
            bool shown = false;
            if (f->kind() == 0x40 && sample && f->tick() != lastShownTick) {
                shown = true;
            } else if (f->kind() == 0x60 && sample) {
                const auto now = static_cast<float>(clock_.secondsSinceMidnight());
                if (lastLiveTime == 0.0F || now - lastLiveTime >= 1.0F) {
                    shown = true;
                    lastLiveTime = now;
                }
            } else if (f->kind() == 0x50 && f->trailer()) {
                boxes_[4] = boxForm(fixed(f->word(3), 1));
                boxes_[5] = boxForm(fixed(f->word(5), 1));
                boxes_[6] = boxForm(fixed(f->b[8] * 50L, 0));
                boxes_[7] = boxForm(fixed(f->b[10] * 50L, 0));
                boxes_[8] = boxForm(fixed(f->b[9] * 10L, 0));
            }
            if (!shown)
                continue;
            lastShownTick = f->tick();
            const std::string values[] = {fixed(f->tick(), 2), fixed(f->word(5), 2), fixed(f->word(7), 1),
                                          fixed(f->word(9) * 100, 0)};
            for (std::size_t k = 0; k < 4; ++k)
                boxes_[k] = boxForm(values[k]);
            if (!fileOpen_) {
                recovery_ = Recovery::FileClosed;
                return;
            }
            lines_.push_back(values[0] + "," + values[1] + "," + values[2] + "," + values[3]);
        }
    }

    // After every operation; `drained` when the receive event was raised, so
    // that a whole frame's worth may no longer wait.
    void check(bool drained)
    {
        for (int k = 0; k < MainForm::kText1Count; ++k) {
            const QString got = form_.Text1(k).text();
            const QString& want = boxes_[static_cast<std::size_t>(k)];
            ZELVAR_FUZZ_CHECK(got == want,
                              "Text1(" + std::to_string(k) + ") shows " + show(got) + ", want " + show(want));
        }
        if (recovery_ == Recovery::None) {
            ZELVAR_FUZZ_CHECK(comm_.PortOpen(), "the port closed: " + receiver_.lastError().toStdString());
            ZELVAR_FUZZ_CHECK(form_.Label2().caption() == u"Now Running" && form_.Command1().caption() == u"Stop"
                                  && !form_.Combo1().isEnabled() && !form_.Combo2().isEnabled(),
                              "the window changed without a recovery");
            ZELVAR_FUZZ_CHECK(!drained || comm_.InBufferCount() < 13,
                              std::to_string(comm_.InBufferCount()) + " bytes left waiting");
            return;
        }

        ZELVAR_FUZZ_CHECK(!comm_.PortOpen(), "the recovery left the port open");
        ZELVAR_FUZZ_CHECK(form_.Label2().caption() == u"Error!" && form_.Command1().caption() == u"Start"
                              && form_.Combo1().isEnabled() && form_.Combo2().isEnabled(),
                          "the window does not show the recovery");
        ZELVAR_FUZZ_CHECK(!files_.isBound(kRunFile), "the recovery left the run file number bound");
        const QString error = receiver_.lastError();
        bool reasonFits = false;
        switch (recovery_) {
        case Recovery::Interval:
            reasonFits = error.contains(u"divisor of 0") || error.contains(u"not a number")
                      || error.contains(u"out of range");
            break;
        case Recovery::FileClosed:
            reasonFits = error.contains(u"not open");
            break;
        case Recovery::Lost:
            reasonFits = error.contains(u"serial device lost");
            break;
        case Recovery::None:
            break;
        }
        ZELVAR_FUZZ_CHECK(reasonFits, "recovery for " + show(error) + ", want reason "
                                          + std::to_string(static_cast<int>(recovery_)));
        endSession();
        startSession();
    }

    // The run file holds exactly the records the model expects, each reaching
    // the system before its event ended.
    void endSession() const
    {
        // Read with the C library: QFile costs more than the rest of a
        // short input, and a fuzzer lives on executions per second.
        std::string content;
        std::FILE* f = std::fopen(runFilePath().toLocal8Bit().constData(), "rb");
        ZELVAR_FUZZ_CHECK(f != nullptr, "cannot read the run file");
        char block[4096];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, f)) > 0;)
            content.append(block, got);
        std::fclose(f);
        std::string want;
        for (const std::string& line : lines_)
            want += line + "\r\n";
        ZELVAR_FUZZ_CHECK(content == want, "the run file holds\n" + content + "want\n" + want);
    }

    QLocale locale_;
    MemorySerialControl comm_;
    MemoryMainForm form_;
    SequentialFiles files_;
    ManualClock clock_{36000.0};
    FrameReceiver receiver_;
    int events_ = 0;

    // The model.
    std::array<QString, MainForm::kText1Count> boxes_;
    QByteArray stream_;      // bytes of this port session
    std::size_t parsed_ = 0; // end of the last frame handled
    std::vector<std::string> lines_;
    bool fileOpen_ = true;
    Recovery recovery_ = Recovery::None;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t setup = in.byte();
    Harness h((setup & 1) != 0 ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3: {
            const std::string_view bytes = in.bytes(in.byte() % 48);
            h.feed(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), op % 8 != 3);
            break;
        }
        case 4: {
            const std::string_view text = in.bytes(in.byte() % 12);
            h.setBox(8, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
            break;
        }
        case 5:
            h.moveClock(in.byte());
            break;
        case 6:
            h.raise(in.byte() % 4);
            break;
        default:
            switch (in.byte() % 4) {
            case 0:
                h.loseDevice();
                break;
            case 1:
                h.closeRunFile();
                break;
            default: {
                // A whole frame of a known kind, so that samples are common.
                static constexpr std::uint8_t kKinds[] = {0x40, 0x60, 0x50};
                QByteArray frame("\xD9\xAB", 2);
                const std::string_view body = in.bytes(9);
                frame.append(body.data(), static_cast<qsizetype>(body.size()));
                frame.append(static_cast<char>(kKinds[in.byte() % 3]));
                frame.append('\xFA');
                h.feed(frame, true);
                break;
            }
            }
            break;
        }
    }
    h.finish();
    return 0;
}
