// Parser of the simulator's scenario format and the embedded default scenario.
#include "scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace cjsim {

namespace {

// Thrown by the checks below and turned into the one error message of ParseScenario.
struct Failure {
    std::string what;
};

bool ToLong(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0' &&
           (std::isdigit(static_cast<unsigned char>(text[0])) != 0);
}

// form is what the user types, with N for the number: "threads N", "cycle=N".
long long Number(const std::string& form, const std::string& text, long long lo, long long hi) {
    long long v = 0;
    if (!ToLong(text, v) || v < lo || v > hi) {
        throw Failure{"expected '" + form + "' with N from " + std::to_string(lo) + " to " +
                      std::to_string(hi) + ", got '" + text + "'"};
    }
    return v;
}

// Bytes of the message that a terminal would not show as they are (control bytes, bytes that
// are not UTF-8) become \xHH.
std::string Shown(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80             ? 1
                     : (c & 0xE0) == 0xC0 ? 2
                     : (c & 0xF0) == 0xE0 ? 3
                     : (c & 0xF8) == 0xF0 ? 4
                                          : 0;
        for (size_t k = 1; k < len; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                len = 0;
            }
        }
        // A byte-order mark inside the text is valid but invisible.
        const bool bom = len == 3 && text.compare(i, 3, "\xEF\xBB\xBF") == 0;
        if (c < 0x20 || c == 0x7F || len == 0 || (len == 2 && c < 0xC2) || bom) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

// "U/A/T:FIRST+COUNT"
NameRange Range(const std::string& text) {
    const std::string expected =
        "expected a range UNIT/AREA/TYP:FIRST+COUNT (like 1/2/5:0+4), got '" + text + "'";
    const size_t s1 = text.find('/');
    const size_t s2 = s1 == std::string::npos ? s1 : text.find('/', s1 + 1);
    const size_t colon = s2 == std::string::npos ? s2 : text.find(':', s2 + 1);
    const size_t plus = colon == std::string::npos ? colon : text.find('+', colon + 1);
    if (plus == std::string::npos) {
        throw Failure{expected};
    }
    long long unit = 0, area = 0, typ = 0, first = 0, cnt = 0;
    if (!ToLong(text.substr(0, s1), unit) || !ToLong(text.substr(s1 + 1, s2 - s1 - 1), area) ||
        !ToLong(text.substr(s2 + 1, colon - s2 - 1), typ) ||
        !ToLong(text.substr(colon + 1, plus - colon - 1), first) ||
        !ToLong(text.substr(plus + 1), cnt)) {
        throw Failure{expected};
    }
    if (unit > 0xFFFF || area > 0xFFFF || typ > 0xFF) {
        throw Failure{"range '" + text + "': UNIT and AREA must be 0..65535 and TYP 0..255"};
    }
    // Merged ranges must still fit the 16-bit first element and count of a name.
    if (cnt < 1 || first + cnt > 0xFFFF) {
        throw Failure{"range '" + text +
                      "': COUNT must be at least 1 and FIRST+COUNT at most 65535"};
    }
    return {static_cast<int>(unit), static_cast<int>(area), static_cast<int>(typ),
            static_cast<int>(first), static_cast<int>(cnt)};
}

std::vector<NameRange> Ranges(const std::string& text) {
    std::vector<NameRange> r;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        r.push_back(Range(item));
    }
    if (r.empty() || r.size() > 1024) {
        throw Failure{
            "expected 'read=RANGE[,RANGE...]' with 1 to 1024 ranges (like "
            "read=1/2/5:0+4,1/2/5:8+2)"};
    }
    return r;
}

ScenarioClient Client(std::istringstream& words, int line, unsigned long duration) {
    ScenarioClient c;
    c.line = line;
    if (!(words >> c.name) || c.name.find('=') != std::string::npos) {
        throw Failure{
            "expected 'client NAME cycle=MS type=N start=MS [cancel=MS] [service=ivar|ydb] "
            "read=RANGE[,RANGE...]'"};
    }
    std::set<std::string> seen;
    std::string word;
    while (words >> word) {
        const size_t eq = word.find('=');
        if (eq == std::string::npos) {
            throw Failure{"client '" + c.name + "': expected KEY=VALUE, got '" + word + "'"};
        }
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (!seen.insert(key).second) {
            throw Failure{"client '" + c.name + "': " + key + "= given twice"};
        }
        if (key == "cycle") {
            c.cycle = static_cast<long>(Number("cycle=N", value, 1, 60000));
        } else if (key == "type") {
            c.type = static_cast<long>(Number("type=N", value, 0, 65535));
        } else if (key == "start") {
            c.start = static_cast<unsigned long>(Number("start=N", value, 0, 10000000));
        } else if (key == "cancel") {
            c.cancel = static_cast<unsigned long>(Number("cancel=N", value, 0, 10000000));
        } else if (key == "read") {
            c.names = Ranges(value);
        } else if (key == "service" && (value == "ivar" || value == "ydb")) {
            c.ydb = value == "ydb";
        } else if (key == "service") {
            throw Failure{"client '" + c.name + "': service=" + value +
                          " (expected service=ivar or service=ydb)"};
        } else {
            throw Failure{"client '" + c.name + "': unknown key '" + key +
                          "' (expected cycle, type, start, cancel, read or service)"};
        }
    }
    for (const char* required : {"cycle", "type", "start", "read"}) {
        if (seen.count(required) == 0) {
            throw Failure{"client '" + c.name + "': missing " + required + "=N"};
        }
    }
    if (c.start >= duration) {
        throw Failure{"client '" + c.name + "': start=" + std::to_string(c.start) +
                      " must lie before the duration " + std::to_string(duration) +
                      " (set duration first)"};
    }
    if (c.cancel != kNever && (c.cancel <= c.start || c.cancel > duration)) {
        throw Failure{"client '" + c.name + "': cancel=" + std::to_string(c.cancel) +
                      " must lie after start and not after the duration"};
    }
    return c;
}

// A client line: the client, whose name and (cycle, type) must be its own.
void AddClient(std::istringstream& words, int line, Scenario& s, std::set<std::string>& names,
               std::map<std::pair<long, long>, bool>& services) {
    s.clients.push_back(Client(words, line, s.duration));
    const ScenarioClient& c = s.clients.back();
    if (!names.insert(c.name).second) {
        throw Failure{"client '" + c.name + "' defined twice"};
    }
    // The component looks collection jobs up by cycle and type alone.
    if (!services.emplace(std::make_pair(c.cycle, c.type), c.ydb).first->second != !c.ydb) {
        throw Failure{"client '" + c.name + "': its cycle and type are taken by the other service"};
    }
}

// duration, threads or limit with its one value.
void SetSetting(const std::string& keyword, std::istringstream& words, Scenario& s) {
    std::string value, extra;
    if (keyword != "duration" && keyword != "threads" && keyword != "limit") {
        throw Failure{"unknown keyword '" + keyword +
                      "' (expected duration, threads, limit or client)"};
    }
    if (!(words >> value) || (words >> extra)) {
        throw Failure{"expected '" + keyword + " N'"};
    }
    if (keyword == "duration") {
        if (!s.clients.empty()) {
            throw Failure{"duration must come before the first client"};
        }
        s.duration = static_cast<unsigned long>(Number("duration N", value, 1, 10000000));
    } else if (keyword == "threads") {
        s.threads = static_cast<int>(Number("threads N", value, 1, 64));
    } else {
        // Ids start at 2 and the limit is exclusive: at least one collection job.
        s.jobLimit = static_cast<unsigned long>(Number("limit N", value, 3, 999));
    }
}

// The statement of a line without its comment; a byte-order mark before the first is dropped.
std::string Statement(std::string text, int line) {
    // Editors that save "UTF-8 with BOM" put one before the first line.
    if (line == 1 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.erase(0, 3);
    }
    const size_t hash = text.find('#');
    if (hash != std::string::npos) {
        text.erase(hash);
    }
    return text;
}

}  // namespace

bool ParseScenario(std::istream& in, const std::string& file, Scenario& out, std::string& error) {
    Scenario s;
    s.source = file;
    std::set<std::string> names;
    std::map<std::pair<long, long>, bool> services;  // (cycle, type): YDB
    std::string text;
    int line = 0;
    try {
        while (std::getline(in, text)) {
            std::istringstream words(Statement(text, ++line));
            std::string keyword;
            if (!(words >> keyword)) {
                continue;
            }
            if (keyword == "client") {
                AddClient(words, line, s, names, services);
            } else {
                SetSetting(keyword, words, s);
            }
        }
        if (in.bad()) {
            const int err = errno;
            throw Failure{std::string("cannot read further: ") + std::strerror(err)};
        }
        if (s.clients.empty()) {
            ++line;
            throw Failure{"expected at least one 'client' line"};
        }
    } catch (const Failure& f) {
        error = Shown(file + ":" + std::to_string(line) + ": " + f.what);
        return false;
    }
    out = std::move(s);
    return true;
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
    // A directory opens as a stream on some systems and then fails to read.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = Shown("'" + path + "' is a directory, not a scenario file");
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        error = Shown("cannot open '" + path +
                      "': " + (err != 0 ? std::strerror(err) : "cannot be opened"));
        return false;
    }
    return ParseScenario(in, path, out, error);
}

const char* DefaultScenarioText() {
    return R"(# Default scenario: merging, re-creation, cancellation and the job limit.
duration 1200
threads 4
limit 5                # collection-job ids 2..4 per type

# Four clients read overlapping and touching ranges every 100 ms: one collection job.
client axis1   cycle=100 type=9 start=0   read=1/10/5:0+8,1/10/5:20+4
client axis2   cycle=100 type=9 start=100 read=1/10/5:4+8,1/11/5:0+2
client axis3   cycle=100 type=9 start=200 cancel=700 read=1/10/5:12+8,1/10/5:24+2
client axis4   cycle=100 type=9 start=300 read=1/11/5:2+6,2/10/5:0+3
# A late client joins after a cancel: the merge drops the cancelled names (re-creation).
client axis5   cycle=100 type=9 start=800 read=1/10/5:30+2

# Two clients on 50 ms, one of them leaves; the other leaves last: the job is deleted.
client drive1  cycle=50 type=9 start=20 cancel=900 read=3/1/6:0+16
client drive2  cycle=50 type=9 start=40 cancel=600 read=3/1/6:8+16,3/1/6:40+1

# A client alone on its cycle keeps a job of its own, and leaves again.
client probe   cycle=250 type=9 start=10 cancel=1000 read=4/7/2:100+10

# The job limit: at 150 the ids 2..4 of type 9 are taken (a re-created job keeps its
# first id until it is renumbered again), so these clients run as jobs of their own.
client late    cycle=20 type=9 start=150 read=5/1/5:0+4
client late2   cycle=20 type=9 start=170 read=5/1/5:4+4

# Another type has its own ids.
client plc1    cycle=100 type=3 start=60 read=1/10/5:0+8
client plc2    cycle=100 type=3 start=160 read=1/10/5:6+6

# YDB clients: one variable per element, the values of each cycle handed to every client by
# UpdateYDBValues. Three share a job (re-created at each join); one leaves, a late one joins.
client trace1  cycle=100 type=1 start=30 service=ydb read=1/10/5:0+4,2/10/5:0+2
client trace2  cycle=100 type=1 start=130 service=ydb read=1/10/5:2+6
client trace3  cycle=100 type=1 start=230 cancel=650 service=ydb read=6/2/5:0+3
client trace4  cycle=100 type=1 start=750 service=ydb read=6/2/5:3+3
# Two on 50 ms, the first leaves last: its job is deleted.
client scope1  cycle=50 type=1 start=50 cancel=1100 service=ydb read=3/1/6:0+8
client scope2  cycle=50 type=1 start=90 cancel=500 service=ydb read=3/1/6:4+8
)";
}

const char* ScenarioFormatHelp() {
    return R"(Scenario format (one statement per line, '#' starts a comment):
  duration MS        length of the run on the virtual clock, 1..10000000 (default 1000);
                     must come before the first client
  threads N          client threads, 1..64 (default 4); clients are dealt out round-robin
  limit N            job limit handed to the component (setMaxJobs), 3..999 (default 8);
                     collection jobs get ids 2..N-1 per type
  client NAME cycle=MS type=N start=MS [cancel=MS] [service=ivar|ydb] read=RANGE[,RANGE...]
                     a client that asks at 'start' for the ranges to be read every 'cycle'
                     ms as job type 'type', and cancels at 'cancel' (never when left out)
  RANGE              UNIT/AREA/TYP:FIRST+COUNT, for example 1/10/5:0+8 = elements 0..7 of
                     unit 1, area 10, data type 5 (UNIT, AREA 0..65535; TYP 0..255;
                     COUNT >= 1; FIRST+COUNT <= 65535); 1 to 1024 ranges per client
)";
}

}  // namespace cjsim
