// Receiver frame parser: frame recognition, joining and dispatch.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <cctype>
#include <string>

#include "codec_recorder.h"
#include "navformat.h"

using namespace codec_test;

namespace {

// The first example of a receiver reply: an "SX" acknowledgement with payload 1.
const Bytes kSxOk{'$', '$', 'S', 'X', 0x11, 0x01, 0x01, 0x1A, 0x0D, 0x0A};

// Collects trace lines while alive; the trace category is off by default.
class TraceCapture {
public:
    TraceCapture() {
        s_lines.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("quorvex.trace.debug=true"));
        m_previous = qInstallMessageHandler(&TraceCapture::Handle);
    }
    ~TraceCapture() {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    static QStringList s_lines;

private:
    static void Handle(QtMsgType, const QMessageLogContext& ctx, const QString& msg) {
        if (ctx.category && QByteArray(ctx.category) == "quorvex.trace") s_lines << msg;
    }
    QtMessageHandler m_previous = nullptr;
};
QStringList TraceCapture::s_lines;

class Parser : public ::testing::Test {
protected:
    int FeedAll(const Bytes& b) { return Feed(parser, handler, b); }
    CQuillmereNavFormat parser;
    RecordingHandler handler;
};

}  // namespace

TEST_F(Parser, TheSxExampleCompletesOnItsLineFeedAndDispatchesPayloadOne) {
    for (std::size_t i = 0; i + 1 < kSxOk.size(); ++i)
        EXPECT_FALSE(parser.ParseByte(kSxOk[i])) << "byte " << i;
    ASSERT_TRUE(parser.ParseByte(kSxOk.back()));
    EXPECT_EQ(parser.Type1(), 'S');
    EXPECT_EQ(parser.Type2(), 'X');
    EXPECT_EQ(parser.Kind(), 0x11);
    EXPECT_EQ(parser.PayloadLen(), 1);
    EXPECT_EQ(parser.Payload()[0], 1);
    parser.DispatchFrame(handler);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}}));
}

TEST_F(Parser, WrongChecksumIsTracedAndNotDispatched) {
    Bytes bad = kSxOk;
    bad[7] ^= 0x40;
    TraceCapture trace;
    EXPECT_EQ(FeedAll(bad), 0);
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_EQ(TraceCapture::s_lines,
              QStringList{QStringLiteral("Received Data 83, 88 is wrong ?")});
}

TEST_F(Parser, OnlyKindsWithBitThreeClearAreDispatched) {
    for (int kind = 0; kind < 256; ++kind) {
        handler.calls.clear();
        FeedAll(MakeFrame("SX", static_cast<std::uint8_t>(kind), {7}));
        EXPECT_EQ(handler.calls.size(), (kind & 0x08) ? 0u : 1u) << "kind " << kind;
    }
}

// Each damaged frame is dropped and the good frame right behind it still parses.
struct DamagedCase {
    const char* name;
    Bytes bytes;
};

class DamagedFrame : public Parser, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedFrame, IsDroppedAndTheNextGoodFrameParses) {
    FeedAll(GetParam().bytes);
    EXPECT_TRUE(handler.calls.empty());
    FeedAll(MakeFrame("SS", 0x11, {'Q', '4'}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SS", {'Q', '4'}}}));
}

namespace {
Bytes Patched(Bytes b, std::size_t at, std::uint8_t value) {
    b[at] = value;
    return b;
}
Bytes Oversized(std::uint8_t length) {
    Bytes f{'$', '$', 'S', 'X', 0x11, length};
    const Bytes body(length, 0x01);
    f.insert(f.end(), body.begin(), body.end());
    f.insert(f.end(), {0x00, 0x0D, 0x0A});
    return f;
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Codec, DamagedFrame,
    ::testing::Values(DamagedCase{"WrongChecksum", Patched(kSxOk, 7, 0x1B)},
                      DamagedCase{"KindWithBitThree", MakeFrame("SX", 0x18, {1})},
                      DamagedCase{"NoCarriageReturn", Patched(kSxOk, 8, 'x')},
                      DamagedCase{"NoLineFeed", Patched(kSxOk, 9, 'x')},
                      DamagedCase{"LengthFiftySeven", Oversized(57)},
                      DamagedCase{"LengthTwoHundredFiftyFive", Oversized(255)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Parser, ParserRecoversAtTheSecondDollarPair) {
    const Bytes stream = Concat({{'$', 'x'}, MakeFrame("SS", 0x11, {49, 54})});
    EXPECT_EQ(stream[2], '$');
    FeedAll(stream);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SS", {49, 54}}}));
}

// A frame that starts inside one that fails is found, and is ready on its
// own line feed: an acknowledgement behind a stray "$" must not be lost.
struct InsideCase {
    const char* name;
    Bytes before;  // the failing start, then the frame's own bytes follow
    Bytes frame;
    Dispatch want;
};

void PrintTo(const InsideCase& c, std::ostream* os) {
    *os << c.name;
}

class StartInsideAFailedFrame : public Parser, public ::testing::WithParamInterface<InsideCase> {};

TEST_P(StartInsideAFailedFrame, IsReadyOnItsLineFeed) {
    const Bytes stream = Concat({GetParam().before, GetParam().frame});
    for (std::size_t i = 0; i + 1 < stream.size(); ++i)
        ASSERT_FALSE(parser.ParseByte(stream[i])) << "byte " << i;
    ASSERT_TRUE(parser.ParseByte(stream.back()));
    parser.DispatchFrame(handler);
    EXPECT_EQ(handler.calls, std::vector<Dispatch>{GetParam().want});
}

INSTANTIATE_TEST_SUITE_P(
    Codec, StartInsideAFailedFrame,
    ::testing::Values(InsideCase{"StrayDollar", {'$'}, kSxOk, {"SX", {1}}},
                      InsideCase{"TwoStrayDollars", {'$', '$'}, kSxOk, {"SX", {1}}},
                      // Type "Z$", kind "$", length "S": 83 cannot be held.
                      InsideCase{"LengthOverFiftySix", {'$', '$', 'Z'}, kSxOk, {"SX", {1}}},
                      // A cut-off frame: its CR would be the SX frame's kind byte.
                      InsideCase{
                          "NoCarriageReturn", {'$', '$', 'S', 'X', 0x11, 3}, kSxOk, {"SX", {1}}},
                      // Its CR is the next frame's payload "\r", its LF that frame's 0x33.
                      InsideCase{"NoLineFeed",
                                 {'$', '$', 'S', 'X', 0x11, 5},
                                 MakeFrame("SX", 0x11, {'\r', 0x33}),
                                 {"SX", {'\r', 0x33}}},
                      // CR and LF where they belong, but its checksum would be 0x09.
                      InsideCase{"WrongChecksum",
                                 {'$', '$', 'S', 'X', 0x11, 6},
                                 MakeFrame("SS", 0x11, {0x00, '\r', '\n', 7}),
                                 {"SS", {0x00, '\r', '\n', 7}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Parser, FramesWhollyInsideAFailedFrameComeOutInStreamOrder) {
    const Bytes at = MakeFrame("AT", 0x11, {});
    const Bytes failed = Concat({{'$', '$', 'S', 'X', 0x11, 19}, kSxOk, at, {0x00, 'x'}});

    // Both lie in the bytes searched again on the failing byte. A loop that
    // only feeds bytes gets the second with the next byte, which still counts.
    EXPECT_EQ(FeedAll(Concat({failed, kSxOk})), 3);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}, {"AT", {}}, {"SX", {1}}}));

    CQuillmereNavFormat other;
    for (std::size_t i = 0; i + 1 < failed.size(); ++i) ASSERT_FALSE(other.ParseByte(failed[i]));
    ASSERT_TRUE(other.ParseByte(failed.back()));
    EXPECT_EQ(other.Type2(), 'X');
    ASSERT_TRUE(other.NextFrame());
    EXPECT_EQ(other.Type1(), 'A');
    EXPECT_FALSE(other.NextFrame());
}

TEST_F(Parser, AValidFrameIsTakenWholeWhateverItsPayloadHolds) {
    EXPECT_EQ(FeedAll(MakeFrame("SS", 0x11, kSxOk)), 1);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SS", kSxOk}}));
    // Also one the host ignores: kind bit 3 makes it no failure.
    EXPECT_EQ(FeedAll(MakeFrame("SS", 0x18, kSxOk)), 0);
    EXPECT_EQ(handler.calls.size(), 1u);
}

TEST_F(Parser, TextBetweenFramesIsSkipped) {
    FeedAll(Concat({kSxOk, {'G', 'P', 'S', '\r', '\n', '$', '\r'}, kSxOk}));
    EXPECT_EQ(handler.calls.size(), 2u);
}

TEST_F(Parser, ZeroPayloadPutsTheChecksumRightAfterTheLength) {
    const Bytes at = MakeFrame("AT", 0x11, {});
    ASSERT_EQ(at.size(), 9u);
    EXPECT_EQ(at[6], 'A' ^ 'T' ^ 0x11);
    EXPECT_EQ(FeedAll(at), 1);
    EXPECT_EQ(parser.PayloadLen(), 0);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"AT", {}}}));
}

TEST_F(Parser, FiftySixBytesIsTheLongestFrameTaken) {
    // 56 is held, and as it is 55 or more it continues into the next frame.
    EXPECT_EQ(FeedAll(MakeFrame("SS", 0x11, Filled(56))), 1);
    EXPECT_TRUE(handler.calls.empty());
    FeedAll(MakeFrame("SS", 0x11, {200}));
    ASSERT_EQ(handler.calls.size(), 1u);
    Bytes want = Filled(56);
    want.push_back(200);
    EXPECT_EQ(handler.calls[0].payload, want);
}

TEST_F(Parser, FramesFollowingEachOtherBackToBackAllParse) {
    Bytes stream;
    for (int i = 0; i < 40; ++i)
        stream = Concat({stream, MakeFrame("SX", 0x11, Filled(static_cast<std::size_t>(i % 55)))});
    EXPECT_EQ(FeedAll(stream), 40);
    ASSERT_EQ(handler.calls.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(handler.calls[i].payload, Filled(i % 55)) << i;
}

// --- joining ---------------------------------------------------------------

TEST_F(Parser, FiftyFiveThenTenJoinIntoOneMessageAfterTheSecondFrame) {
    FeedAll(MakeFrame("SS", 0x11, Filled(55, 0)));
    EXPECT_TRUE(handler.calls.empty()) << "a 55-byte payload continues";
    FeedAll(MakeFrame("SS", 0x11, Filled(10, 55)));
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].handler, "SS");
    EXPECT_EQ(handler.calls[0].payload, Filled(65, 0));
}

TEST_F(Parser, FiftyFourIsAMessageOfItsOwn) {
    FeedAll(MakeFrame("SS", 0x11, Filled(54)));
    FeedAll(MakeFrame("SS", 0x11, Filled(3, 100)));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SS", Filled(54)}, {"SS", Filled(3, 100)}}));
}

TEST_F(Parser, AnEmptyFrameEndsAJoinedMessage) {
    FeedAll(MakeFrame("SX", 0x11, Filled(55, 0)));
    FeedAll(MakeFrame("SX", 0x11, Filled(55, 55)));
    FeedAll(MakeFrame("SX", 0x11, {}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", Filled(110, 0)}}));
}

TEST_F(Parser, AnotherTypeDiscardsTheUnfinishedMessage) {
    FeedAll(MakeFrame("SS", 0x11, Filled(55, 0)));
    FeedAll(MakeFrame("SX", 0x11, {1}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}}));
    // The discarded bytes do not come back with the next frame of the first type.
    FeedAll(MakeFrame("SS", 0x11, {9}));
    EXPECT_EQ(handler.calls.back(), (Dispatch{"SS", {9}}));
}

TEST_F(Parser, DroppedFramesDoNotBreakAJoin) {
    FeedAll(MakeFrame("SS", 0x11, Filled(55, 0)));
    FeedAll(MakeFrame("SX", 0x11, {1}, 0x00));  // bad checksum: never reaches the joiner
    FeedAll(MakeFrame("SS", 0x11, Filled(5, 55)));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SS", Filled(60, 0)}}));
}

TEST_F(Parser, AMessageOfExactlyThirtyThousandBytesIsDispatched) {
    Bytes want;
    for (int i = 0; i < 545; ++i) {
        const Bytes part = Filled(55, static_cast<std::uint8_t>(i));
        want.insert(want.end(), part.begin(), part.end());
        FeedAll(MakeFrame("SS", 0x11, part));
    }
    FeedAll(MakeFrame("SS", 0x11, Filled(25, 7)));
    const Bytes tail = Filled(25, 7);
    want.insert(want.end(), tail.begin(), tail.end());
    ASSERT_EQ(want.size(), CQuillmereNavFormat::kJoinedSize);
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].payload, want);
}

TEST_F(Parser, AMessagePastThirtyThousandBytesIsDiscardedWhole) {
    // 546 frames of 55 bytes pass the limit; the frames after the overflow
    // belong to the same message and must not come out as a message of their own.
    for (int i = 0; i < 546 + 3; ++i) FeedAll(MakeFrame("SS", 0x11, Filled(55)));
    FeedAll(MakeFrame("SS", 0x11, Filled(10)));
    EXPECT_TRUE(handler.calls.empty());
    // The next message of the same type works.
    FeedAll(MakeFrame("SS", 0x11, Filled(55, 1)));
    FeedAll(MakeFrame("SS", 0x11, {2}));
    ASSERT_EQ(handler.calls.size(), 1u);
    Bytes want = Filled(55, 1);
    want.push_back(2);
    EXPECT_EQ(handler.calls[0].payload, want);
}

TEST_F(Parser, AnOverflowEndsWhenAnotherTypeArrives) {
    for (int i = 0; i < 546; ++i) FeedAll(MakeFrame("SS", 0x11, Filled(55)));
    FeedAll(MakeFrame("SX", 0x11, {1}));
    FeedAll(MakeFrame("SS", 0x11, {3}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}, {"SS", {3}}}));
}

// --- dispatch table ---------------------------------------------------------

struct TypeCase {
    const char* type;
    const char* handler;  // empty: nothing is called
    bool payload;
};

class DispatchByType : public Parser, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(DispatchByType, CallsItsHandler) {
    handler.awaiting = true;
    FeedAll(MakeFrame(GetParam().type, 0x11, {5, 6}));
    if (*GetParam().handler == '\0') {
        EXPECT_TRUE(handler.calls.empty());
        EXPECT_TRUE(handler.awaiting) << "ignored frames leave the completion flag alone";
        return;
    }
    const Bytes want = GetParam().payload ? Bytes{5, 6} : Bytes{};
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{GetParam().handler, want}}));
}

INSTANTIATE_TEST_SUITE_P(Codec, DispatchByType,
                         ::testing::Values(TypeCase{"SS", "SS", true}, TypeCase{"AT", "AT", false},
                                           TypeCase{"SX", "SX", true}, TypeCase{"SV", "SV", false},
                                           TypeCase{"SC", "SC", false}, TypeCase{"VX", "VX", false},
                                           TypeCase{"ST", "", false}, TypeCase{"XS", "", false},
                                           TypeCase{"ss", "", false}, TypeCase{"TA", "", false},
                                           TypeCase{"S$", "", false}, TypeCase{"\0\0", "", false}),
                         [](const auto& info) {
                             std::string n;
                             for (char c : std::string(info.param.type, 2))
                                 n += std::isalpha(static_cast<unsigned char>(c))
                                          ? std::string(1, c)
                                          : "x" + std::to_string(static_cast<int>(c));
                             return n;
                         });

TEST_F(Parser, CompletionIsActedOnOnlyWhileAwaitedAndClearsTheFlag) {
    FeedAll(MakeFrame("SC", 0x11, {}));
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_EQ(handler.clears, 0);

    handler.awaiting = true;
    FeedAll(MakeFrame("SC", 0x11, {}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SC", {}}}));
    EXPECT_EQ(handler.clears, 1);
    EXPECT_FALSE(handler.awaiting);

    FeedAll(MakeFrame("SC", 0x11, {}));
    EXPECT_EQ(handler.calls.size(), 1u) << "a second SC finds the flag cleared";
}

TEST_F(Parser, StopPollingFrameCallsOnStopPolling) {
    FeedAll(MakeFrame("SV", 0x11, {}));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SV", {}}}));
}

// --- re-entry ---------------------------------------------------------------

TEST_F(Parser, AHandlerCanParseAndDispatchANewFrameWithoutCorruptingItsOwnPayload) {
    const Bytes inner = MakeFrame("SX", 0x11, {0, 9, 9, 9});
    bool reentered = false;
    Bytes seenAfter;
    handler.inside = [&](const std::string&, const std::uint8_t* p, unsigned n) {
        if (reentered) return;
        reentered = true;
        EXPECT_EQ(Feed(parser, handler, inner), 1);
        seenAfter.assign(p, p + n);
    };
    FeedAll(kSxOk);
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}, {"SX", {0, 9, 9, 9}}}));
    EXPECT_EQ(seenAfter, Bytes{1}) << "the outer handler's payload was overwritten";

    handler.inside = nullptr;
    FeedAll(kSxOk);
    EXPECT_EQ(handler.calls.size(), 3u);
}

TEST_F(Parser, AJoinedMessageSurvivesANestedJoinedMessage) {
    int depth = 0;
    Bytes seenAfter;
    handler.inside = [&](const std::string&, const std::uint8_t* p, unsigned n) {
        if (depth++ > 0) return;
        Feed(parser, handler,
             Concat({MakeFrame("SS", 0x11, Filled(55, 100)), MakeFrame("SS", 0x11, {1})}));
        seenAfter.assign(p, p + n);
    };
    FeedAll(Concat({MakeFrame("SS", 0x11, Filled(55, 0)), MakeFrame("SS", 0x11, Filled(10, 55))}));
    ASSERT_EQ(handler.calls.size(), 2u);
    EXPECT_EQ(handler.calls[1].payload.size(), 56u);
    EXPECT_EQ(seenAfter, Filled(65, 0));
}

TEST_F(Parser, BytesFedFromInsideADispatchContinueTheSameStream) {
    // Half of the next frame arrives inside the handler, the rest after it
    // returns: the parser's state must carry over between the two.
    const Bytes next = MakeFrame("SS", 0x11, {4, 5, 6});
    bool fed = false;
    handler.inside = [&](const std::string&, const std::uint8_t*, unsigned) {
        if (fed) return;
        fed = true;
        EXPECT_EQ(Feed(parser, handler, Bytes(next.begin(), next.begin() + 6)), 0);
    };
    FeedAll(kSxOk);
    FeedAll(Bytes(next.begin() + 6, next.end()));
    EXPECT_EQ(handler.calls, (std::vector<Dispatch>{{"SX", {1}}, {"SS", {4, 5, 6}}}));
}
