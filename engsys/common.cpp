// The stand-ins' settings reader, sink and line start.
#include "common.h"

#include <chrono>
#include <cstdlib>
#include <vector>

namespace engsys {

namespace {

constexpr int kDiagnostics = 18;
constexpr int kBaseLocation = 1;
constexpr LONG kMoreData = 234;

std::string narrow(const WCHAR* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace

StandInSettings::StandInSettings() noexcept : m_tool(LoadLibraryA("bsttool.dll")) {
    if (m_tool) {
        m_getValue = platform::proc_address<SettingGetValueFn>(m_tool.get(), "BTL_SettingGetValue");
        m_getString =
            platform::proc_address<SettingGetStringFn>(m_tool.get(), "BTL_SettingGetString");
    }
}

bool StandInSettings::dword(LPCWSTR name, DWORD& value) const noexcept {
    return m_getValue != nullptr && m_getValue(&kDiagnostics, &kBaseLocation, name, &value) == 0;
}

bool StandInSettings::text(LPCWSTR name, std::string& value) const {
    if (m_getString == nullptr) {
        return false;
    }
    std::vector<WCHAR> buffer(MAX_PATH);
    DWORD chars = static_cast<DWORD>(buffer.size());
    LONG result = m_getString(&kDiagnostics, &kBaseLocation, name, buffer.data(), &chars);
    if (result == kMoreData) {
        buffer.resize(chars);
        result = m_getString(&kDiagnostics, &kBaseLocation, name, buffer.data(), &chars);
    }
    if (result != 0) {
        return false;
    }
    value = narrow(buffer.data());
    return true;
}

Sink::Sink(const std::string& choice) {
    if (choice == "none") {
        m_kind = Kind::None;
    } else if (choice.compare(0, 5, "file:") == 0 && choice.size() > 5) {
        m_kind = Kind::File;
        m_path = choice.substr(5);
    } else if (choice != "stderr") {
        std::fprintf(stderr, "engsys: unknown trace sink \"%s\", writing to stderr\n",
                     choice.c_str());
    }
}

Sink Sink::configured() {
    if (const char* env = std::getenv("BSTTRACE_SINK")) {
        return Sink(env);
    }
    std::string choice;
    if (StandInSettings().text(OLESTR("trace-sink"), choice)) {
        return Sink(choice);
    }
    return Sink();
}

void Sink::write(const std::string& line) noexcept {
    if (m_kind == Kind::None) {
        return;
    }
    if (m_kind == Kind::File && !m_file && !m_openFailed) {
        m_file.reset(std::fopen(m_path.c_str(), "a"));
        if (!m_file) {
            m_openFailed = true;
            std::fprintf(stderr, "engsys: cannot open trace file \"%s\", writing to stderr\n",
                         m_path.c_str());
        }
    }
    std::FILE* out = m_file ? m_file.get() : stderr;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

std::string line_start() {
    using namespace std::chrono;
    const long long ms =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    long long days = ms / 86400000;
    long long msOfDay = ms % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian; eras of 400 years).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ T0x%lX",
                  year, month, day, msOfDay / 3600000, msOfDay / 60000 % 60, msOfDay / 1000 % 60,
                  msOfDay % 1000, static_cast<unsigned long>(GetCurrentThreadId()));
    return text;
}

}  // namespace engsys
