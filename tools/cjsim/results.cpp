// The result files of a run: a small JSON writer (no dependency for one flat document), the
// summary as CSV, and the timeline as SVG drawn directly: a time axis with one lane per job is
// a chart, which graph layout tools do not draw.
#include "results.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>
#include <ostream>
#include <vector>

namespace cjsim {

namespace {

std::string RangeText(const NameRange& r) {
    return std::to_string(r.unit) + "/" + std::to_string(r.area) + "/" + std::to_string(r.typ) +
           ":" + std::to_string(r.start) + "+" + std::to_string(r.cnt);
}

// Escapes for JSON strings and XML text alike where they overlap; each writer adds its own.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string XmlText(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

// Writes one JSON document: commas and indentation follow the nesting; arrays opened inline
// keep their elements on one line.
class JsonWriter {
  public:
    explicit JsonWriter(std::ostream& out) : m_out(out) {}
    ~JsonWriter() { m_out << "\n"; }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    JsonWriter& Key(const char* key) {
        Separate();
        m_out << JsonString(key) << ": ";
        m_afterKey = true;
        return *this;
    }
    JsonWriter& Open(char bracket, bool inlined = false) {
        Separate();
        m_out << bracket;
        m_levels.push_back({false, inlined || Inlined()});
        return *this;
    }
    JsonWriter& Close(char bracket) {
        const Level closed = m_levels.back();
        m_levels.pop_back();
        if (closed.hasElements && !closed.inlined) {
            NewLine();
        }
        m_out << bracket;
        return *this;
    }
    JsonWriter& Value(const std::string& text) { return Raw(JsonString(text)); }
    JsonWriter& Value(const char* text) { return Raw(JsonString(text)); }
    JsonWriter& Value(uint64_t n) { return Raw(std::to_string(n)); }
    JsonWriter& Value(long n) { return Raw(std::to_string(n)); }
    JsonWriter& Value(int n) { return Raw(std::to_string(n)); }
    JsonWriter& Value(bool b) { return Raw(b ? "true" : "false"); }
    JsonWriter& Value(double d) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", d);
        return Raw(buf);
    }
    JsonWriter& Null() { return Raw("null"); }
    template <class T>
    JsonWriter& Field(const char* key, const T& value) {
        return Key(key).Value(value);
    }

  private:
    struct Level {
        bool hasElements;
        bool inlined;
    };
    bool Inlined() const { return !m_levels.empty() && m_levels.back().inlined; }
    void NewLine() { m_out << "\n" << std::string(2 * m_levels.size(), ' '); }
    // Before a key, or a value that has no key: the comma and the line of a new element.
    void Separate() {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (m_levels.empty()) {
            return;
        }
        Level& level = m_levels.back();
        if (level.hasElements) {
            m_out << (level.inlined ? ", " : ",");
        }
        level.hasElements = true;
        if (!level.inlined) {
            NewLine();
        }
    }
    JsonWriter& Raw(const std::string& text) {
        Separate();
        m_out << text;
        return *this;
    }

    std::ostream& m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

const char* ServiceName(bool ydb) {
    return ydb ? "YDB" : "IVar";
}

// A collection job through its re-creations: the controller jobs that carried it, in order.
struct Lineage {
    std::vector<size_t> jobs;  // indices into SimResult::jobs
    std::vector<unsigned long> ids;
};

// A re-created job continues the lineage whose latest job it replaced at the same tick under
// its previous ES id; any other collection job starts a lineage.
std::vector<Lineage> Lineages(const SimResult& r) {
    std::vector<Lineage> lineages;
    std::map<std::pair<long, unsigned long>, size_t> byLatest;  // (type, ES id) -> lineage
    for (size_t i = 0; i < r.jobs.size(); ++i) {
        const SimJob& job = r.jobs[i];
        if (!job.collection) {
            continue;
        }
        const auto prev = byLatest.find({job.type, job.prevEs});
        const bool continues = job.prevEs != job.es && prev != byLatest.end() &&
                               r.jobs[lineages[prev->second].jobs.back()].deleted == job.created;
        size_t index = lineages.size();
        if (continues) {
            index = prev->second;
            byLatest.erase(prev);
        } else {
            lineages.emplace_back();
            if (job.prevEs != 0 && job.prevEs != job.es) {
                lineages.back().ids.push_back(job.prevEs);  // the component's id, never run
            }
        }
        lineages[index].jobs.push_back(i);
        lineages[index].ids.push_back(job.es);
        byLatest[{job.type, job.es}] = index;
    }
    return lineages;
}

void WriteVerificationJson(const SimResult& r, JsonWriter& json) {
    json.Key("verification").Open('{');
    json.Field("passed", r.exitCode == 0).Field("reads", r.reads).Field("values", r.values);
    json.Field("mismatches", r.mismatches).Field("errors", r.errors);
    json.Key("ivar").Open('{', true);
    json.Field("reads", r.reads - r.ydbReads).Field("values", r.values - r.ydbValues);
    json.Close('}');
    json.Key("ydb").Open('{', true).Field("reads", r.ydbReads).Field("values", r.ydbValues);
    json.Close('}');
    json.Key("problems").Open('[');
    for (const std::string& p : r.problems) {
        json.Value(p);
    }
    json.Close(']').Close('}');
}

void WriteCyclesJson(const SimResult& r, JsonWriter& json) {
    json.Key("cycles").Open('[');
    for (const KeyStats& k : r.keys) {
        json.Open('{', true).Field("service", ServiceName(k.ydb)).Field("cycle", k.cycle);
        json.Field("type", k.type).Field("singleJobs", static_cast<uint64_t>(k.clients));
        json.Field("jobsWithout", static_cast<uint64_t>(k.jobsWithout));
        json.Field("jobsWith", static_cast<uint64_t>(k.jobsWith));
        json.Field("collectionJobs", static_cast<uint64_t>(k.collectionJobs));
        json.Field("namesRequested", static_cast<uint64_t>(k.requested));
        json.Field("namesReformed", static_cast<uint64_t>(k.reformed));
        json.Field("readsWithout", k.readsWithout).Field("readsWith", k.readsWith).Close('}');
    }
    json.Close(']');
}

void WriteJobJson(const SimJob& job, JsonWriter& json) {
    json.Open('{')
        .Field("rt", static_cast<uint64_t>(job.rt))
        .Field("es", static_cast<uint64_t>(job.es));
    json.Field("created", static_cast<uint64_t>(job.created)).Key("deleted");
    if (job.deleted == kNever) {
        json.Null();
    } else {
        json.Value(static_cast<uint64_t>(job.deleted));
    }
    json.Key("ranges").Open('[', true);
    for (const NameRange& n : job.names) {
        json.Value(RangeText(n));
    }
    json.Close(']').Key("clients").Open('[', true);
    for (const auto& [client, base] : job.clients) {
        json.Open('{').Field("client", client).Field("firstName", static_cast<uint64_t>(base));
        json.Close('}');
    }
    json.Close(']').Field("executions", job.executions);
    json.Field("elementsRead", job.elementsWith).Field("elementsWithout", job.elementsWithout);
    json.Close('}');
}

void WriteJobsJson(const SimResult& r, JsonWriter& json) {
    json.Key("collectionJobs").Open('[');
    for (const Lineage& l : Lineages(r)) {
        const SimJob& first = r.jobs[l.jobs.front()];
        uint64_t with = 0, without = 0, deleted = 0;
        for (size_t i : l.jobs) {
            with += r.jobs[i].elementsWith;
            without += r.jobs[i].elementsWithout;
            deleted += r.jobs[i].deleted == kNever ? 0 : 1;
        }
        json.Open('{').Field("service", ServiceName(first.ydb)).Field("cycle", first.cycle);
        json.Field("type", first.type).Key("ids").Open('[', true);
        for (unsigned long id : l.ids) {
            json.Value(static_cast<uint64_t>(id));
        }
        json.Close(']').Field("recreations", static_cast<uint64_t>(l.ids.size() - 1));
        json.Field("controllerJobsCreated", static_cast<uint64_t>(l.jobs.size()));
        json.Field("controllerJobsDeleted", deleted);
        json.Field("elementsRead", with).Field("elementsWithout", without);
        json.Key("controllerJobs").Open('[');
        for (size_t i : l.jobs) {
            WriteJobJson(r.jobs[i], json);
        }
        json.Close(']').Close('}');
    }
    json.Close(']').Key("singleJobs").Open('[');
    for (const SimJob& job : r.jobs) {
        if (!job.collection) {
            json.Open('{', true).Field("service", ServiceName(job.ydb)).Field("cycle", job.cycle);
            json.Field("type", job.type).Key("job");
            WriteJobJson(job, json);
            json.Close('}');
        }
    }
    json.Close(']');
}

}  // namespace

void WriteJson(const SimResult& r, std::ostream& out) {
    JsonWriter json(out);
    json.Open('{').Field("scenario", r.source).Field("duration", static_cast<uint64_t>(r.duration));
    json.Field("threads", r.threads).Field("seed", static_cast<uint64_t>(r.seed));
    json.Field("module", r.module).Field("optimizer", static_cast<uint64_t>(r.optimizer));
    json.Field("exitCode", r.exitCode);
    WriteVerificationJson(r, json);
    json.Key("peak").Open('{', true).Field("tick", static_cast<uint64_t>(r.peakTick));
    json.Field("jobsWithout", static_cast<uint64_t>(r.peakJobsWithout));
    json.Field("jobsWith", static_cast<uint64_t>(r.peakJobsWith)).Close('}');
    WriteCyclesJson(r, json);
    WriteJobsJson(r, json);
    json.Key("events").Open('[');
    for (const SimEvent& e : r.events) {
        json.Open('{', true).Field("tick", static_cast<uint64_t>(e.tick)).Field("client", e.client);
        json.Field("kind", e.kind).Field("text", e.text).Close('}');
    }
    json.Close(']').Close('}');
}

void WriteCsv(const SimResult& r, std::ostream& out) {
    out << "service,cycle,type,single_jobs,jobs_without,jobs_with,collection_jobs,"
           "names_requested,names_reformed,reads_without,reads_with\n";
    for (const KeyStats& k : r.keys) {
        char line[256];
        std::snprintf(line, sizeof line, "%s,%ld,%ld,%zu,%zu,%zu,%zu,%zu,%zu,%.3f,%.3f\n",
                      ServiceName(k.ydb), k.cycle, k.type, k.clients, k.jobsWithout, k.jobsWith,
                      k.collectionJobs, k.requested, k.reformed, k.readsWithout, k.readsWith);
        out << line;
    }
}

namespace {

// The picture's geometry: a label column, then virtual time from left to right.
struct Geometry {
    static constexpr int kLabel = 230, kPlot = 900, kLane = 18, kTop = 60;
    unsigned long duration;
    double X(unsigned long tick) const {
        return kLabel + kPlot * static_cast<double>(std::min(tick, duration)) / duration;
    }
    int Y(size_t lane) const { return kTop + static_cast<int>(lane) * kLane; }
};

void WriteAxis(const Geometry& g, size_t lanes, std::ostream& out) {
    unsigned long step = 1;
    while (g.duration / step > 10) {
        step *= (std::to_string(step)[0] == '2') ? 5 : 2;  // 1, 2, 10, 20, 100, ...
    }
    const int bottom = g.Y(lanes) + 4;
    for (unsigned long t = 0; t <= g.duration; t += step) {
        out << "<line x1=\"" << g.X(t) << "\" y1=\"" << Geometry::kTop - 6 << "\" x2=\"" << g.X(t)
            << "\" y2=\"" << bottom << "\" class=\"grid\"/>\n<text x=\"" << g.X(t) << "\" y=\""
            << Geometry::kTop - 10 << "\" text-anchor=\"middle\">" << t << " ms</text>\n";
    }
}

std::string LaneLabel(const SimJob& job) {
    const std::string key = std::to_string(job.cycle) + "ms typ " + std::to_string(job.type);
    if (job.collection) {
        return "CJ " + std::to_string(job.es) + " " + ServiceName(job.ydb) + " " + key + " rt " +
               std::to_string(job.rt);
    }
    const std::string client = job.clients.empty() ? "?" : job.clients.front().first;
    return client + " alone, " + key + " rt " + std::to_string(job.rt);
}

// The lane a single job was merged into: the collection job created as it ended that reads for
// its client.
size_t MergedInto(const SimResult& r, const SimJob& single, const std::vector<size_t>& laneOf) {
    for (size_t i = 0; i < r.jobs.size(); ++i) {
        const SimJob& cj = r.jobs[i];
        if (cj.collection && cj.created == single.deleted && !single.clients.empty() &&
            std::any_of(cj.clients.begin(), cj.clients.end(),
                        [&](const auto& c) { return c.first == single.clients.front().first; })) {
            return laneOf[i];
        }
    }
    return laneOf.size();
}

void WriteTimelineHeader(const SimResult& r, int height, std::ostream& out) {
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
        << Geometry::kLabel + Geometry::kPlot + 20 << "\" height=\"" << height
        << "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"11\">\n"
        << "<style>.grid{stroke:#ddd}.cj{fill:#9ecae1;stroke:#3182bd}.sj{fill:#ddd;stroke:#999}"
           ".saved{fill:#31a354;fill-opacity:0.55}.link{stroke:#555;stroke-dasharray:3,2}"
           ".recreate{fill:#e6550d}.merge{fill:#555}</style>\n"
        << "<text x=\"10\" y=\"18\" font-size=\"13\">" << XmlText(r.source) << ": jobs on the "
        << "controller over virtual time (one lane per job)</text>\n"
        << "<text x=\"10\" y=\"34\">blue: collection job; grey: job of a single client; green "
           "band and text: share of element reads saved; orange triangle: re-created from the lane "
           "above the dashed line; dot: a client's own job merged in</text>\n";
}

void WriteLane(const Geometry& g, const SimJob& job, size_t lane, std::ostream& out) {
    const double x0 = g.X(job.created), x1 = std::max(g.X(job.deleted), x0 + 1);
    const int y = g.Y(lane);
    out << "<g><title>" << XmlText(LaneLabel(job)) << ": " << job.elementsWith << " elements read, "
        << job.elementsWithout << " without the component</title>\n"
        << "<text x=\"" << Geometry::kLabel - 6 << "\" y=\"" << y + 12 << "\" text-anchor=\"end\">"
        << XmlText(LaneLabel(job)) << "</text>\n"
        << "<rect x=\"" << x0 << "\" y=\"" << y + 3 << "\" width=\"" << x1 - x0
        << "\" height=\"12\" class=\"" << (job.collection ? "cj" : "sj") << "\"/>\n";
    if (job.collection && job.elementsWithout > 0) {
        // Positive: reads saved; negative: a cancelled client's names still read.
        const double saved = 1.0 - static_cast<double>(job.elementsWith) / job.elementsWithout;
        if (saved > 0) {
            out << "<rect x=\"" << x0 << "\" y=\"" << y + 3 + 12 * (1 - saved) << "\" width=\""
                << x1 - x0 << "\" height=\"" << 12 * saved << "\" class=\"saved\"/>\n";
        }
        if (x1 - x0 > 70) {
            out << "<text x=\"" << x0 + 4 << "\" y=\"" << y + 12 << "\" font-size=\"9\">"
                << (saved >= 0 ? "saves " : "reads +")
                << static_cast<int>(100 * (saved >= 0 ? saved : -saved) + 0.5) << "%</text>\n";
        }
    }
    out << "</g>\n";
}

// Re-creations: a dashed line from the lane of the job replaced to the new one's start, marked
// there. Merges: a client's own job ends where the collection job that took it over begins.
void WriteLinks(const SimResult& r, const Geometry& g, const std::vector<size_t>& laneOf,
                std::ostream& out) {
    for (const Lineage& l : Lineages(r)) {
        for (size_t k = 1; k < l.jobs.size(); ++k) {
            const double x = g.X(r.jobs[l.jobs[k]].created);
            const int from = g.Y(laneOf[l.jobs[k - 1]]) + 9, to = g.Y(laneOf[l.jobs[k]]) + 9;
            out << "<line x1=\"" << x << "\" y1=\"" << from << "\" x2=\"" << x << "\" y2=\"" << to
                << "\" class=\"link\"/>\n<path d=\"M" << x << " " << to - 6 << " l6 6 l-6 6 z\" "
                << "class=\"recreate\"/>\n";
        }
    }
    for (size_t i = 0; i < r.jobs.size(); ++i) {
        const SimJob& job = r.jobs[i];
        const size_t into =
            job.collection || job.deleted == kNever ? laneOf.size() : MergedInto(r, job, laneOf);
        if (into < laneOf.size()) {
            const double x = g.X(job.deleted);
            out << "<line x1=\"" << x << "\" y1=\"" << g.Y(laneOf[i]) + 9 << "\" x2=\"" << x
                << "\" y2=\"" << g.Y(into) + 9 << "\" class=\"link\"/>\n<circle cx=\"" << x
                << "\" cy=\"" << g.Y(laneOf[i]) + 9 << "\" r=\"3\" class=\"merge\"/>\n";
        }
    }
}

}  // namespace

void WriteTimeline(const SimResult& r, std::ostream& out) {
    // Lanes grouped by service, cycle time and type, each group in the order of creation.
    std::vector<size_t> order(r.jobs.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const SimJob &x = r.jobs[a], &y = r.jobs[b];
        return std::make_tuple(x.ydb, x.cycle, x.type) < std::make_tuple(y.ydb, y.cycle, y.type);
    });
    std::vector<size_t> laneOf(r.jobs.size());
    for (size_t lane = 0; lane < order.size(); ++lane) {
        laneOf[order[lane]] = lane;
    }
    const Geometry g{r.duration == 0 ? 1 : r.duration};
    WriteTimelineHeader(r, g.Y(order.size()) + 30, out);
    WriteAxis(g, order.size(), out);
    for (size_t lane = 0; lane < order.size(); ++lane) {
        WriteLane(g, r.jobs[order[lane]], lane, out);
    }
    WriteLinks(r, g, laneOf, out);
    out << "</svg>\n";
}

}  // namespace cjsim
