// The scenario format: what a valid file yields, and the message of every kind of bad input.
#include <gtest/gtest.h>

#include <sstream>

#include "scenario.h"

namespace {

bool Parse(const std::string& text, cjsim::Scenario& s, std::string& error) {
    std::istringstream in(text);
    return cjsim::ParseScenario(in, "test.scn", s, error);
}

TEST(SimScenarioParser, ReadsSettingsClientsAndRanges) {
    cjsim::Scenario s;
    std::string error;
    ASSERT_TRUE(
        Parse("# header\n\nduration 500\nthreads 3  # trailing comment\nlimit 6\n"
              "client a cycle=20 type=9 start=5 cancel=400 read=1/2/3:4+5,65535/0/255:0+1\n"
              "client b type=1 read=0/0/0:10+2 start=0 cycle=60000\n",
              s, error))
        << error;
    EXPECT_EQ(s.source, "test.scn");
    EXPECT_EQ(s.duration, 500u);
    EXPECT_EQ(s.threads, 3);
    EXPECT_EQ(s.jobLimit, 6u);
    ASSERT_EQ(s.clients.size(), 2u);
    const cjsim::ScenarioClient& a = s.clients[0];
    EXPECT_EQ(a.name, "a");
    EXPECT_EQ(a.line, 6);
    EXPECT_EQ((std::vector<long>{a.cycle, a.type}), (std::vector<long>{20, 9}));
    EXPECT_EQ((std::vector<unsigned long>{a.start, a.cancel}),
              (std::vector<unsigned long>{5, 400}));
    ASSERT_EQ(a.names.size(), 2u);
    EXPECT_EQ((std::vector<int>{a.names[0].unit, a.names[0].area, a.names[0].typ, a.names[0].start,
                                a.names[0].cnt}),
              (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ((std::vector<int>{a.names[1].unit, a.names[1].typ}), (std::vector<int>{65535, 255}));
    EXPECT_EQ(s.clients[1].cancel, cjsim::kNever);
    EXPECT_EQ(s.clients[1].cycle, 60000);
}

TEST(SimScenarioParser, TheDefaultScenarioIsValid) {
    cjsim::Scenario s;
    std::string error;
    ASSERT_TRUE(Parse(cjsim::DefaultScenarioText(), s, error)) << error;
    EXPECT_GE(s.clients.size(), 8u);
}

TEST(SimScenarioParser, BadInputNamesFileLineAndWhatWasExpected) {
    const std::string ok = "client a cycle=10 type=1 start=0 read=1/1/1:0+1\n";
    const std::string expected = " (expected duration, threads, limit or client)";
    struct Case {
        std::string text;
        std::string message;  // the whole error
    } cases[] = {
        {"speed 5\n", "test.scn:1: unknown keyword 'speed'" + expected},
        {"\n# c\nthreads\n", "test.scn:3: expected 'threads N'"},
        {"threads 4 5\n", "test.scn:1: expected 'threads N'"},
        {"threads 0\n", "test.scn:1: expected 'threads N' with N from 1 to 64, got '0'"},
        {"limit 2\n", "test.scn:1: expected 'limit N' with N from 3 to 999, got '2'"},
        {"duration -5\n", "test.scn:1: expected 'duration N' with N from 1 to 10000000, got '-5'"},
        {"duration 1e3\n",
         "test.scn:1: expected 'duration N' with N from 1 to 10000000, got '1e3'"},
        {ok + "duration 5\n", "test.scn:2: duration must come before the first client"},
        {"client\n",
         "test.scn:1: expected 'client NAME cycle=MS type=N start=MS [cancel=MS] "
         "[service=ivar|ydb] read=RANGE[,RANGE...]'"},
        {"client a cycle 10\n", "test.scn:1: client 'a': expected KEY=VALUE, got 'cycle'"},
        {"client a cycle=0 type=1 start=0 read=1/1/1:0+1\n",
         "test.scn:1: expected 'cycle=N' with N from 1 to 60000, got '0'"},
        {"client a cycle=10 cycle=20\n", "test.scn:1: client 'a': cycle= given twice"},
        {"client a cycle=10 speed=3\n",
         "test.scn:1: client 'a': unknown key 'speed' (expected cycle, type, start, cancel, "
         "read or service)"},
        {"client a cycle=10 service=udp\n",
         "test.scn:1: client 'a': service=udp (expected service=ivar or service=ydb)"},
        {ok + "client b cycle=10 type=1 start=0 service=ydb read=1/1/1:0+1\n",
         "test.scn:2: client 'b': its cycle and type are taken by the other service"},
        {"client a cycle=10 type=1 start=0\n", "test.scn:1: client 'a': missing read=N"},
        {"client a cycle=10 type=1 read=1/1/1:0+1\n", "test.scn:1: client 'a': missing start=N"},
        {"client a cycle=10 type=1 start=0 read=1/1:0+1\n",
         "test.scn:1: expected a range UNIT/AREA/TYP:FIRST+COUNT (like 1/2/5:0+4), got '1/1:0+1'"},
        {"client a cycle=10 type=1 start=0 read=1/1/1:0+0\n",
         "test.scn:1: range '1/1/1:0+0': COUNT must be at least 1 and FIRST+COUNT at most 65535"},
        {"client a cycle=10 type=1 start=0 read=1/1/1:65530+6\n",
         "test.scn:1: range '1/1/1:65530+6': COUNT must be at least 1 and FIRST+COUNT at most "
         "65535"},
        {"client a cycle=10 type=1 start=0 read=1/1/256:0+1\n",
         "test.scn:1: range '1/1/256:0+1': UNIT and AREA must be 0..65535 and TYP 0..255"},
        {"client a cycle=10 type=1 start=0 read=\n",
         "test.scn:1: expected 'read=RANGE[,RANGE...]' with 1 to 1024 ranges (like "
         "read=1/2/5:0+4,1/2/5:8+2)"},
        {"duration 100\nclient a cycle=10 type=1 start=100 read=1/1/1:0+1\n",
         "test.scn:2: client 'a': start=100 must lie before the duration 100 (set duration "
         "first)"},
        {"client a cycle=10 type=1 start=50 cancel=50 read=1/1/1:0+1\n",
         "test.scn:1: client 'a': cancel=50 must lie after start and not after the duration"},
        {ok + ok, "test.scn:2: client 'a' defined twice"},
        {"# nothing\n", "test.scn:2: expected at least one 'client' line"},
        // What a terminal would not show is escaped; UTF-8 text is shown as it is.
        {"sp\x01\x1B[2Jeed 5\n", "test.scn:1: unknown keyword 'sp\\x01\\x1B[2Jeed'" + expected},
        {"\x7F\xFF\xC3 5\n", "test.scn:1: unknown keyword '\\x7F\\xFF\\xC3'" + expected},
        {u8"durée 5\n", u8"test.scn:1: unknown keyword 'durée'" + expected},
        // A byte-order mark is taken only where editors put one.
        {"threads 2\n\xEF\xBB\xBFlimit 5\n",
         "test.scn:2: unknown keyword '\\xEF\\xBB\\xBFlimit'" + expected},
    };
    for (const Case& c : cases) {
        cjsim::Scenario s;
        std::string error;
        EXPECT_FALSE(Parse(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
    }
}

TEST(SimScenarioParser, AByteOrderMarkIsAccepted) {
    cjsim::Scenario s;
    std::string error;
    EXPECT_TRUE(
        Parse("\xEF\xBB\xBF"
              "duration 500\r\nclient a cycle=10 type=1 start=0 "
              "read=1/1/1:0+1\r\n",
              s, error))
        << error;
    EXPECT_EQ(s.duration, 500u);
}

TEST(SimScenarioParser, FilesThatCannotBeReadSayWhy) {
    cjsim::Scenario s;
    std::string error;
    EXPECT_FALSE(cjsim::LoadScenarioFile("no/such/file.scn", s, error));
    EXPECT_EQ(error, "cannot open 'no/such/file.scn': No such file or directory");
    EXPECT_FALSE(cjsim::LoadScenarioFile(".", s, error));
    EXPECT_EQ(error, "'.' is a directory, not a scenario file");
}

}  // namespace
