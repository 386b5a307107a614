// The controller model driven directly: bytes in, bytes out, on a clock the test moves.
#include "emulator/controller.h"
#include "emulator/frame_log.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kvr::emu {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes frameOf(std::string_view text) {
    Bytes b;
    b.push_back(0x01);
    for (const char c : text)
        b.push_back(static_cast<uint8_t>(c));
    b.push_back(0x0D);
    return b;
}
const Bytes kAck = {0x01, '0', 0x0D};
const Bytes kRefused = {0x01, '1', 0x0D};

// A controller and its clock.
struct Rig {
    explicit Rig(ControllerProfile p = *profileByName("nvlt3000")) : c(std::move(p)) {}
    Controller c;
    SimTime t{0};

    Bytes collect() {
        Bytes all;
        for (;;) {
            Emission e = c.poll(t);
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
            if (e.event == LineEvent::None) return all;
        }
    }
    Bytes send(std::string_view text) {
        c.receive(frameOf(text), t);
        return collect();
    }
    Bytes sendRaw(const Bytes& b) {
        c.receive(b, t);
        return collect();
    }
    Bytes advance(SimTime d) {
        t += d;
        return collect();
    }
    void play(std::string_view line) {
        std::string error;
        ASSERT_TRUE(c.enqueueLine(line, t, &error)) << line << ": " << error;
    }
    // Plays everything queued, however long it takes on the controller's clock.
    Bytes finish() {
        Bytes all;
        while (auto due = c.nextDue()) {
            t = std::max(t, *due);
            Emission e = c.poll(t);
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        }
        return all;
    }
};

// A reading of touch packets straight from the packet layouts, independent of the encoder.
std::vector<TouchSample> readM(const Bytes& b) {
    std::vector<TouchSample> out;
    EXPECT_EQ(b.size() % 5, 0u);
    for (size_t i = 0; i + 5 <= b.size(); i += 5) {
        EXPECT_TRUE(b[i] & 0x80);
        const bool lowFirst = b[i] & 0x10;
        TouchSample s;
        s.penDown = b[i] & 0x40;
        s.sideButton = b[i] & 0x01;
        s.rawX = lowFirst ? b[i + 2] * 128 + b[i + 1] : b[i + 1] * 128 + b[i + 2];
        s.rawY = lowFirst ? b[i + 4] * 128 + b[i + 3] : b[i + 3] * 128 + b[i + 4];
        out.push_back(s);
    }
    return out;
}

std::vector<TouchSample> readE(const Bytes& b) {
    std::vector<TouchSample> out;
    EXPECT_EQ(b.size() % 10, 0u);
    for (size_t i = 0; i + 10 <= b.size(); i += 10) {
        EXPECT_EQ(b[i], 0x55);
        EXPECT_EQ(b[i + 1], 0x54);
        EXPECT_EQ(b[i + 8], 0x00);
        uint8_t sum = 0xAA;
        for (int k = 0; k < 8; ++k)
            sum = static_cast<uint8_t>(sum + b[i + k]);
        EXPECT_EQ(b[i + 9], sum);
        TouchSample s;
        s.penDown = b[i + 2] & 0x03;
        s.sideButton = b[i + 2] & 0x08;
        EXPECT_EQ(static_cast<bool>(b[i + 2] & 0x04), !s.penDown) << "release flag on pen-up only";
        s.rawX = static_cast<uint16_t>(b[i + 3] + b[i + 4] * 256);
        s.rawY = static_cast<uint16_t>(b[i + 5] + b[i + 6] * 256);
        out.push_back(s);
    }
    return out;
}

std::vector<TouchSample> readPackets(const Bytes& b, PacketKind kind) {
    return kind == PacketKind::E ? readE(b) : readM(b);
}

struct Expect {
    uint16_t x, y;
    bool down;
    bool button = false;
};

void expectSamples(const std::vector<TouchSample>& got, const std::vector<Expect>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("sample " + std::to_string(i));
        EXPECT_EQ(got[i].rawX, want[i].x);
        EXPECT_EQ(got[i].rawY, want[i].y);
        EXPECT_EQ(got[i].penDown, want[i].down);
        EXPECT_EQ(got[i].sideButton, want[i].button);
    }
}

// ---- commands --------------------------------------------------------------------------------

struct CommandCase {
    const char* command;
    Bytes reply;
};

TEST(ControllerCommands, EveryCommandIsAnsweredByteForByte) {
    const CommandCase cases[] = {
        {"GP01", frameOf("1403")},
        {"GP02", frameOf("7D00")},
        {"GP03", frameOf("00FA")},
        {"GP05", frameOf("00FA")},
        {"GP98", frameOf("0003")},
        {"GP99", frameOf("1403")},
        {"GP9B", frameOf("00FA")},
        {"GP9C", frameOf("0180")},
        {"GP9D", frameOf("00FA")},
        {"GP9E", frameOf("0000")},
        {"GP9F", frameOf("32FA")},
        {"GP10", frameOf("0800")},
        {"GP21", frameOf("0100")},
        {"GP81", frameOf("0A32")},
        {"GPA3", frameOf("C0DE")},
        {"GPa3", frameOf("C0DE")},
        {"GP00", frameOf("0000")},
        {"GPFF", frameOf("0000")},
        {"SP0112AB", kAck},
        {"Z", kAck},
        {"CR", kAck},
        {"PL", kAck},
        {"iH1", kAck},
        {"MI", kAck},
        {"MS", kAck},
        {"MP", kAck},
        {"SE0", kAck},
        {"SE4", kAck},
        {"R", kAck},
        {"RD", kAck},
        {"UT", frameOf("NVLT3000")},
        {"OI", frameOf("V32110")},
        {"ii", frameOf("0004")},
        {"Uu", bytesOf("Lumarcon00")},
        // Refused: no such command, or bad arguments.
        {"SE5", kRefused},
        {"SE", kRefused},
        {"SE12", kRefused},
        {"GP9", kRefused},
        {"GP9G", kRefused},
        {"GP123", kRefused},
        {"SP01", kRefused},
        {"SP0112A", kRefused},
        {"SP0112ABC", kRefused},
        {"SP01XYZW", kRefused},
        {"ut", kRefused},
        {"uu", kRefused},
        {"r", kRefused},
        {"", kRefused},
        {"XYZ", kRefused},
        {"MX", kRefused},
        {"iH2", kRefused},
        {"Z ", kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Rig rig;
        EXPECT_EQ(rig.send(c.command), c.reply);
    }
}

TEST(ControllerCommands, RepliesComeInTheOrderOfTheCommands) {
    Rig rig;
    Bytes two = frameOf("GP01");
    const Bytes ut = frameOf("UT");
    two.insert(two.end(), ut.begin(), ut.end());
    Bytes want = frameOf("1403");
    const Bytes unit = frameOf("NVLT3000");
    want.insert(want.end(), unit.begin(), unit.end());
    EXPECT_EQ(rig.sendRaw(two), want);
}

TEST(ControllerCommands, AFrameSplitAcrossReadsIsOneFrame) {
    Rig rig;
    EXPECT_TRUE(rig.sendRaw({0x01, 'G'}).empty());
    EXPECT_TRUE(rig.sendRaw({'P', '0'}).empty());
    EXPECT_EQ(rig.sendRaw({'1', 0x0D}), frameOf("1403"));
    ASSERT_EQ(rig.c.frames().size(), 1u);
    EXPECT_EQ(rig.c.frames()[0].bytes, frameOf("GP01"));
}

// ---- settings memory ---------------------------------------------------------------------------

TEST(ControllerSettings, StoredWordsReadBack) {
    const struct {
        const char* address;
        const char* value;
    } cases[] = {{"00", "0000"}, {"00", "FFFF"}, {"FF", "1234"},
                 {"9E", "0102"}, {"81", "ABCD"}, {"9f", "a0b1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + "=" + c.value);
        Rig rig;
        EXPECT_EQ(rig.send(std::string("SP") + c.address + c.value), kAck);
        std::string upper = c.value;
        for (auto& ch : upper)
            ch = static_cast<char>(std::toupper(ch));
        EXPECT_EQ(rig.send(std::string("GP") + c.address), frameOf(upper));
    }
}

TEST(ControllerSettings, KeptAcrossResetRestoredByDefaults) {
    Rig rig;
    ASSERT_EQ(rig.send("SP0112AB"), kAck);
    ASSERT_EQ(rig.send("SP8155AA"), kAck);
    ASSERT_EQ(rig.send("SP9E0C4A"), kAck);
    ASSERT_EQ(rig.send("R"), kAck);
    EXPECT_EQ(rig.advance(1s), bytesOf("\x01iT\r"));
    EXPECT_EQ(rig.send("GP01"), frameOf("12AB"));
    EXPECT_EQ(rig.send("GP81"), frameOf("55AA"));

    ASSERT_EQ(rig.send("RD"), kAck);
    EXPECT_EQ(rig.send("GP01"), frameOf("1403")) << "defaults are back at once";
    EXPECT_EQ(rig.send("GP81"), frameOf("0A32"));
    EXPECT_EQ(rig.send("GP9E"), frameOf("0C4A")) << "the installation word survives RD";
    EXPECT_EQ(rig.advance(1s), bytesOf("\x01iT\r"));
    EXPECT_EQ(rig.c.restarts(), 2u);
}

TEST(ControllerSettings, SensitivityCommandSetsTheLevelByte) {
    Rig rig;
    ASSERT_EQ(rig.send("SP9C0280"), kAck);
    ASSERT_EQ(rig.send("SE3"), kAck);
    EXPECT_EQ(rig.send("GP9C"), frameOf("0380"));
    ASSERT_EQ(rig.send("SE9"), kRefused);
    EXPECT_EQ(rig.send("GP9C"), frameOf("0380"));
}

// ---- restart ------------------------------------------------------------------------------------

TEST(ControllerRestart, AnnouncesAfterTheRestartTimeAndComesBackInItsPowerOnMode) {
    Rig rig;
    ASSERT_EQ(rig.send("MI"), kAck);
    EXPECT_EQ(rig.c.reportMode(), ReportMode::Off);
    ASSERT_EQ(rig.send("R"), kAck);
    EXPECT_TRUE(rig.advance(599ms).empty());
    EXPECT_EQ(rig.c.reportMode(), ReportMode::Off);
    EXPECT_EQ(rig.advance(1ms), bytesOf("\x01iT\r"));
    EXPECT_EQ(rig.c.reportMode(), ReportMode::Stream);
}

TEST(ControllerRestart, ASecondResetStartsTheRestartTimeAgain) {
    Rig rig;
    ASSERT_EQ(rig.send("R"), kAck);
    EXPECT_TRUE(rig.advance(400ms).empty());
    ASSERT_EQ(rig.send("R"), kAck);
    EXPECT_TRUE(rig.advance(599ms).empty());
    EXPECT_EQ(rig.advance(1ms), bytesOf("\x01iT\r"));
    EXPECT_TRUE(rig.advance(2s).empty()) << "one announcement only";
}

TEST(ControllerRestart, ScenarioRestartAnnouncesAtOnce) {
    Rig rig;
    rig.play("restart");
    EXPECT_EQ(rig.collect(), bytesOf("\x01iT\r"));
}

// ---- bad input ---------------------------------------------------------------------------------

TEST(ControllerBadInput, NoiseAndOverlongFramesGetNoAnswer) {
    Rig rig;
    EXPECT_TRUE(rig.sendRaw(bytesOf("hello\r\x7F\x80\xFF")).empty());
    Bytes longFrame{0x01};
    longFrame.insert(longFrame.end(), 65, 'A');
    longFrame.push_back(0x0D);
    EXPECT_TRUE(rig.sendRaw(longFrame).empty());
    Bytes maxFrame{0x01};
    maxFrame.insert(maxFrame.end(), 64, 'A');
    maxFrame.push_back(0x0D);
    EXPECT_EQ(rig.sendRaw(maxFrame), kRefused) << "64 text bytes still make a frame";
    // A start inside a frame drops the partial frame.
    EXPECT_EQ(rig.sendRaw(bytesOf("\x01GP9\x01GP01\r")), frameOf("1403"));
    const auto& log = rig.c.frames();
    ASSERT_GE(log.size(), 5u);
    EXPECT_TRUE(log[0].stray);
    EXPECT_EQ(log[0].bytes, bytesOf("hello\r\x7F\x80\xFF"));
    EXPECT_TRUE(log[1].stray);
    EXPECT_EQ(log[1].bytes, longFrame);
    EXPECT_FALSE(log[2].stray);
    EXPECT_EQ(log[2].bytes, maxFrame);
    EXPECT_TRUE(log[3].stray);
    EXPECT_EQ(log[3].bytes, bytesOf("\x01GP9"));
    EXPECT_EQ(log[4].bytes, frameOf("GP01"));
}

TEST(ControllerBadInput, SurvivesRandomBytesAndStillAnswersAfterwards) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 300; ++round) {
        Rig rig(builtinProfiles()[static_cast<size_t>(round) % builtinProfiles().size()]);
        if (rig.c.profile().mute) continue;
        std::uniform_int_distribution<int> len(0, 3000), pick(0, 9), any(0, 255);
        const std::string alphabet = "GPSRDMIZUuTOiHCLE0123456789ABCDEFabcdef";
        Bytes noise(static_cast<size_t>(len(rng)));
        for (auto& b : noise) {
            const int p = pick(rng);
            b = p == 0   ? 0x01
                : p == 1 ? 0x0D
                : p < 6  ? static_cast<uint8_t>(
                              alphabet[static_cast<size_t>(any(rng)) % alphabet.size()])
                        : static_cast<uint8_t>(any(rng));
        }
        rig.c.receive(noise, rig.t);
        rig.advance(5s);
        rig.finish();
        // A CR ends whatever frame the noise left open; then the controller answers as ever.
        rig.sendRaw({0x0D});
        rig.advance(5s);
        ASSERT_EQ(rig.send("SP4242AB"), kAck) << "round " << round;
        ASSERT_EQ(rig.send("GP42"), frameOf("42AB")) << "round " << round;
    }
}

// ---- report modes and touch streams -------------------------------------------------------------

TEST(ControllerReports, ModesDecideWhichSamplesAreSent) {
    const struct {
        const char* mode;
        size_t packets;
    } cases[] = {{"MS", 6}, {"MP", 1}, {"MI", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Rig rig;
        ASSERT_EQ(rig.send(c.mode), kAck);
        rig.play("tap 100 200 5");
        const auto samples = readM(rig.finish());
        ASSERT_EQ(samples.size(), c.packets);
        if (c.packets == 1) {
            EXPECT_TRUE(samples[0].penDown);
            EXPECT_EQ(samples[0].rawX, 100);
        }
    }
}

TEST(ControllerReports, PointModeSendsOnePacketPerTouch) {
    Rig rig;
    ASSERT_EQ(rig.send("MP"), kAck);
    rig.play("drag 100 100 400 400 4");
    rig.play("lift");
    rig.play("touch 50 60 3");
    rig.play("lift");
    expectSamples(readM(rig.finish()), {{100, 100, true}, {50, 60, true}});
}

TEST(ControllerReports, SamplesFollowTheSampleRate) {
    Rig rig; // 100 samples a second
    rig.play("touch 1 1 3");
    EXPECT_EQ(rig.collect().size(), 5u) << "first sample at once";
    EXPECT_TRUE(rig.advance(9ms).empty());
    EXPECT_EQ(rig.advance(1ms).size(), 5u);
    EXPECT_EQ(rig.advance(10ms).size(), 5u);
    rig.play("rate 50");
    rig.play("touch 1 1 2");
    EXPECT_EQ(rig.advance(10ms).size(), 5u);
    EXPECT_TRUE(rig.advance(19ms).empty());
    EXPECT_EQ(rig.advance(1ms).size(), 5u);
    rig.play("wait 100");
    rig.play("lift");
    EXPECT_TRUE(rig.advance(119ms).empty());
    EXPECT_EQ(rig.advance(1ms).size(), 5u);
    EXPECT_TRUE(rig.c.idle());
}

TEST(ControllerReports, GesturesEncodeTheCoordinatesAskedFor) {
    Rig rig;
    rig.play("touch 10 20 2");
    rig.play("hold");
    rig.play("drag 0 0 900 300 4");
    rig.play("move 0 0 3");
    rig.play("button down");
    rig.play("touch 50% 100%");
    rig.play("button up");
    rig.play("lift");
    rig.play("tap 16383,16384 1");
    expectSamples(readM(rig.finish()), {
                                           {10, 20, true},
                                           {10, 20, true},
                                           {10, 20, true},
                                           {0, 0, true},
                                           {300, 100, true},
                                           {600, 200, true},
                                           {900, 300, true},
                                           {600, 200, true},
                                           {300, 100, true},
                                           {0, 0, true},
                                           {8191, 16383, true, true},
                                           {8191, 16383, false},
                                           {16383, 16383, true},
                                           {16383, 16383, false},
                                       });
}

TEST(ControllerReports, RawBytesGoOutAsTheyAre) {
    Rig rig;
    rig.play("raw 01 69 54 0D C0");
    rig.play("raw 102030");
    EXPECT_EQ(rig.finish(), (Bytes{0x01, 0x69, 0x54, 0x0D, 0xC0, 0x10, 0x20, 0x30}));
}

// Every built-in profile: identity answers and a touch, read back from the packet tables.
class ControllerProfiles : public ::testing::TestWithParam<ControllerProfile> {};

TEST_P(ControllerProfiles, AnswersItsIdentityAndStreamsInItsFormat) {
    const ControllerProfile& p = GetParam();
    Rig rig(p);
    if (p.mute) {
        EXPECT_TRUE(rig.send("UT").empty());
        EXPECT_TRUE(rig.send("R").empty());
        EXPECT_TRUE(rig.advance(2s).empty());
    } else {
        EXPECT_EQ(rig.send("UT"), frameOf(p.unitType));
        EXPECT_EQ(rig.send("OI"), frameOf(p.identityText));
        EXPECT_EQ(rig.send("Uu"), bytesOf(p.identification()));
        if (p.extensionLevel)
            EXPECT_EQ(rig.send("ii"), frameOf("0004"));
        else
            EXPECT_EQ(rig.send("ii"), kRefused);
    }
    rig.play("tap 25% 75% 2");
    const uint16_t max = p.maxRaw();
    const uint16_t x = static_cast<uint16_t>(25 * max / 100),
                   y = static_cast<uint16_t>(75 * max / 100);
    expectSamples(readPackets(rig.finish(), p.packets),
                  {{x, y, true}, {x, y, true}, {x, y, false}});
}

INSTANTIATE_TEST_SUITE_P(Builtin, ControllerProfiles, ::testing::ValuesIn(builtinProfiles()),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (auto& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(ControllerProfilesData, IdentificationsAreTenBytesOnGoodUnits) {
    EXPECT_EQ(profileByName("nvlt3000")->identification(), "Lumarcon00");
    EXPECT_EQ(profileByName("nvlt3000-hf")->identification(), "Lumarcon01");
    EXPECT_EQ(profileByName("nvlt3000-e")->identification(), "Lumarcon02");
    EXPECT_EQ(profileByName("nvlt3000-yinv")->identification(), "Lumarcon03");
    EXPECT_EQ(profileByName("short-id")->identification().size(), 9u);
    EXPECT_FALSE(profileByName("nope"));
}

// ---- faults ------------------------------------------------------------------------------------

TEST(ControllerFaults, SilenceNeitherCarriesOutNorAnswers) {
    Rig rig;
    rig.play("fault silence 2");
    rig.collect();
    EXPECT_TRUE(rig.send("SP0100FF").empty());
    EXPECT_TRUE(rig.send("UT").empty());
    EXPECT_EQ(rig.send("GP01"), frameOf("1403"));
    rig.play("fault silence");
    rig.collect();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(rig.send("Z").empty());
    rig.play("fault clear");
    rig.collect();
    EXPECT_EQ(rig.send("Z"), kAck);
}

TEST(ControllerFaults, LateReplyComesAfterItsDelay) {
    Rig rig;
    rig.play("fault late 250 1");
    rig.collect();
    EXPECT_TRUE(rig.send("GP01").empty());
    EXPECT_TRUE(rig.advance(249ms).empty());
    EXPECT_EQ(rig.advance(1ms), frameOf("1403"));
    EXPECT_EQ(rig.send("GP01"), frameOf("1403")) << "only one reply was late";
}

TEST(ControllerFaults, LateResetDelaysTheAnnouncementToo) {
    Rig rig;
    rig.c.addFault({FaultKind::Late, 100, 1});
    EXPECT_TRUE(rig.send("R").empty());
    EXPECT_EQ(rig.advance(100ms), kAck);
    EXPECT_TRUE(rig.advance(599ms).empty());
    EXPECT_EQ(rig.advance(1ms), bytesOf("\x01iT\r"));
}

TEST(ControllerFaults, GarbledCutAndRefusedReplies) {
    Rig rig;
    rig.c.addFault({FaultKind::Garble, 0, 1});
    EXPECT_EQ(rig.send("Z"), (Bytes{0x41, 0x70, 0x4D}));
    rig.c.addFault({FaultKind::Cut, 4, 2});
    EXPECT_EQ(rig.send("UT"), bytesOf("\x01NVL"));
    EXPECT_EQ(rig.send("GP01"), bytesOf("\x01"
                                        "140"));
    EXPECT_EQ(rig.send("GP01"), frameOf("1403"));
    rig.c.addFault({FaultKind::Nak, 0, 1});
    EXPECT_EQ(rig.send("SP01FFFF"), kRefused);
    EXPECT_EQ(rig.send("GP01"), frameOf("1403")) << "a refused command is not carried out";
}

TEST(ControllerFaults, DroppedBytes) {
    Rig rig;
    rig.c.addFault({FaultKind::Drop, 3, 2});
    EXPECT_EQ(rig.send("UT"), bytesOf("\x01NLT000\r")) << "the 3rd and 6th byte are lost";
    EXPECT_EQ(rig.send("UT"), frameOf("NVLT3000"));
    EXPECT_EQ(rig.c.bytesDropped(), 2u);
}

TEST(ControllerFaults, HangUpAndReconnectAreLineEvents) {
    Rig rig;
    rig.play("touch 1 1");
    rig.play("hangup");
    rig.play("wait 50");
    rig.play("reconnect");
    rig.play("raw AA");
    Emission e = rig.c.poll(rig.t);
    EXPECT_EQ(e.bytes.size(), 5u);
    EXPECT_EQ(e.event, LineEvent::None);
    rig.t += 10ms; // one sample period after the touch
    e = rig.c.poll(rig.t);
    EXPECT_TRUE(e.bytes.empty());
    EXPECT_EQ(e.event, LineEvent::HangUp);
    rig.t += 49ms;
    e = rig.c.poll(rig.t);
    EXPECT_EQ(e.event, LineEvent::None);
    rig.t += 1ms;
    e = rig.c.poll(rig.t);
    EXPECT_EQ(e.event, LineEvent::Reconnect);
    EXPECT_TRUE(e.bytes.empty());
    e = rig.c.poll(rig.t);
    EXPECT_EQ(e.bytes, Bytes{0xAA});
    EXPECT_TRUE(rig.c.idle());
}

// ---- receive log
// ---------------------------------------------------------------------------------

TEST(FrameLog, LinesRoundTrip) {
    const FrameRecord records[] = {
        {SimTime(152318), frameOf("GP9E"), false},
        {SimTime(0), bytesOf("a\"b\x80"), true},
        {SimTime(999999999), {}, true},
    };
    EXPECT_EQ(formatFrameRecord(records[0]), "152.318 frame 01 47 50 39 45 0D \"GP9E\"");
    EXPECT_EQ(formatFrameRecord(records[1]), "0.000 stray 61 22 62 80 \"a.b.\"");
    for (const auto& r : records) {
        const auto back = parseFrameRecord(formatFrameRecord(r));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->time, r.time);
        EXPECT_EQ(back->bytes, r.bytes);
        EXPECT_EQ(back->stray, r.stray);
    }
    EXPECT_FALSE(parseFrameRecord(""));
    EXPECT_FALSE(parseFrameRecord("12 nonsense 01"));
    EXPECT_FALSE(parseFrameRecord("x.1 frame 01"));
}

} // namespace
} // namespace kvr::emu
