// Shared by the stand-ins: their own settings, read through bsttool.dll as a deployment reads
// them, and the sink that takes their readable lines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "engsys/exports.h"
#include "platform/module.h"

namespace engsys {

// Values of the Diagnostics location (base 1); bsttool.dll stays loaded while this lives.
class StandInSettings {
  public:
    StandInSettings() noexcept;
    // False when the library or the value is missing or has another type.
    bool dword(LPCWSTR name, DWORD& value) const noexcept;
    bool text(LPCWSTR name, std::string& value) const;

  private:
    platform::UniqueModule m_tool;
    SettingGetValueFn m_getValue = nullptr;
    SettingGetStringFn m_getString = nullptr;
};

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

// Where lines go: stderr, nowhere, or appended to a file and flushed per line (a crash loses
// nothing, and a reader sees whole lines). Not thread-safe: owners serialise writes.
class Sink {
  public:
    // "stderr", "none" or "file:<path>"; anything else is stderr, with a note saying so.
    explicit Sink(const std::string& choice = "stderr");
    // BSTTRACE_SINK, else the "trace-sink" setting, else stderr.
    static Sink configured();

    void write(const std::string& line) noexcept;
    // Closes the file; the next line opens it again.
    void close() noexcept { m_file.reset(); }

  private:
    enum class Kind { Stderr, None, File };
    Kind m_kind = Kind::Stderr;
    std::string m_path;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    bool m_openFailed = false;
};

// The start of every line: "2025-01-02T03:04:05.678Z T0x1A2B" (UTC time, calling thread).
std::string line_start();

}  // namespace engsys
