// `melodrift download`: song pages or listed songs onto disk.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/download/Download.h"
#include "core/scrape/RunSupport.h"
#include "core/scrape/SongPageParser.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"

namespace melo::cli {
namespace {

using download::DownloadResult;
using download::Outcome;
using text::GbkToUtf8;
using text::Utf8ToGbk;

struct DownloadCommandOptions {
  std::vector<std::string> addresses;
  std::string folder = ".";
  std::string nameTemplate = download::DownloadOptions{}.nameTemplate;
  int jobs = 4;
  std::string archive;
  bool noContinue = false;
  bool forceOverwrites = false;
  int retries = 3;
  std::string limitRate;
  std::string maxFileSize;
  bool noTags = false;
  int id3v2Version = 3;
  bool windowsFilenames = false;
};

// "500K", "2M", "1.5M", "1G" or plain bytes; nullopt when malformed.
std::optional<std::int64_t> ParseSize(const std::string& text) {
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const std::string unit = text.substr(used);
  static const std::map<std::string, double> kUnits = {
      {"", 1},        {"K", 1024},    {"k", 1024},   {"M", 1 << 20},
      {"m", 1 << 20}, {"G", 1 << 30}, {"g", 1 << 30}};
  const auto found = kUnits.find(unit);
  if (found == kUnits.end() || !(value > 0) || !std::isfinite(value))
    return std::nullopt;
  return static_cast<std::int64_t>(value * found->second);
}

// Appends the control that \xHH or \u00HH at `at` shows (the output's
// backslashes are doubled, so these are terminal escapes) and returns the
// length of the escape; 0 when there is none.
std::size_t UnescapeControl(std::string_view field, std::size_t at, std::string& out) {
  for (const std::string_view prefix : {std::string_view("\\x"), std::string_view("\\u00")}) {
    const std::string_view rest = field.substr(at);
    unsigned value = 0;
    if (!rest.starts_with(prefix) || rest.size() < prefix.size() + 2)
      continue;
    const char* digits = rest.data() + prefix.size();
    if (std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2)
      continue;
    if (prefix.size() == 2) {
      out += static_cast<char>(value);
    } else {
      out += static_cast<char>(0xC0 | (value >> 6));
      out += static_cast<char>(0x80 | (value & 0x3F));
    }
    return prefix.size() + 2;
  }
  return 0;
}

std::string UnescapeTsv(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (const std::size_t length = UnescapeControl(field, i, out); length > 0) {
      i += length - 1;
    } else if (field[i] == '\\' && i + 1 < field.size()) {
      const char next = field[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      out += field[i];
    }
  }
  return out;
}

// One song as parse, crawl and search print it (UTF-8, TSV or JSON), as the
// GBK record the core takes; nullopt for a line that is no song (a singer
// row, a blank line).
std::optional<scrape::SongRecord> SongOfLine(const std::string& line) {
  if (line.starts_with('{')) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || !j.contains("downloadLink"))
      return std::nullopt;
    const auto field = [&](const char* key) {
      return j.contains(key) && j[key].is_string() ? Utf8ToGbk(j[key].get<std::string>())
                                                   : std::string();
    };
    return scrape::SongRecord{field("singer"), field("title"), field("downloadLink"),
                              field("singerLink"), field("songLink")};
  }
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');)
    fields.push_back(Utf8ToGbk(UnescapeTsv(field)));
  if (fields.size() < 3)
    return std::nullopt;
  fields.resize(5);
  return scrape::SongRecord{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

// One input: a song, or why there is none.
struct Entry {
  std::optional<scrape::SongRecord> song;
  std::string address;  // the page address, for a failure
  std::string error;
};

// `ensureSite` is called once standard input is read: the songs there may
// name the bundled site of the run that printed them, whose port comes free
// as that run ends (`melodrift crawl chart | melodrift download -`).
std::vector<Entry> ReadEntries(const std::vector<std::string>& addresses, int jobs,
                               const std::function<void()>& ensureSite, std::stop_token stop) {
  std::vector<Entry> entries;
  std::vector<std::string> pages;
  std::vector<std::size_t> pageEntries;
  for (const std::string& address : addresses) {
    if (address == "-") {
      for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r')
          line.pop_back();
        if (auto song = SongOfLine(line))
          entries.push_back({std::move(song), {}, {}});
      }
    } else {
      pageEntries.push_back(entries.size());
      pages.push_back(Utf8ToGbk(address));
      entries.push_back({std::nullopt, pages.back(), {}});
    }
  }
  ensureSite();
  scrape::FetchSongsInOrder(
      pages, jobs, std::move(stop),
      [&](std::size_t i, const std::string& address, const scrape::ParseResult& result) {
        Entry& entry = entries[pageEntries[i]];
        if (result.Parsed()) {
          const scrape::Song& song = result.song;
          entry.song = scrape::SongRecord{song.singer, song.title, song.downloadLink,
                                          song.singerLink, address};
        } else {
          entry.error = scrape::IsNetworkFailure(result.exit) ? "网络连接失败!" : "解析失败";
        }
      });
  return entries;
}

std::string StatusName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kDownloaded:
      return "downloaded";
    case Outcome::kSkipped:
      return "skipped";
    case Outcome::kFailed:
      return "failed";
  }
  return {};
}

std::string Unquote(std::string text) {
  if (text.starts_with('"'))
    text.erase(0, 1);
  if (text.ends_with('"'))
    text.pop_back();
  return text;
}

std::string HumanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

// Results on stdout, status texts on stderr, and on a terminal a live line:
// songs done of all, the bytes and speed of those under way, time left.
// Pages that did not parse are reported in their place among the songs.
class ConsoleDownloads final : public download::DownloadReporter {
 public:
  // `songEntries[i]` is the entry the i-th downloaded song came from.
  ConsoleDownloads(bool json, bool live, const std::vector<Entry>& entries,
                   std::vector<std::size_t> songEntries)
      : json_(json),
        live_(live),
        entries_(entries),
        songEntries_(std::move(songEntries)),
        total_(entries.size()) {}
  ~ConsoleDownloads() override {
    std::lock_guard lock(mutex_);
    Clear();
  }

  void Progress(std::size_t index, std::uint64_t bytes, std::uint64_t total,
                double speed) override {
    if (!live_)
      return;
    std::lock_guard lock(mutex_);
    active_[index] = {bytes, total, speed};
    Draw();
  }

  void Result(std::size_t index, const scrape::SongRecord& song,
              const DownloadResult& result) override {
    ReportFailedPagesBefore(songEntries_[index]);
    Print(song, result, song.songLink);
    reported_ = songEntries_[index] + 1;
  }

  // The pages after the last song that did not parse.
  void Finish() { ReportFailedPagesBefore(entries_.size()); }

  bool AnyFailed() const { return failed_; }

 private:
  void ReportFailedPagesBefore(std::size_t end) {
    for (; reported_ < end; ++reported_) {
      const Entry& entry = entries_[reported_];
      if (!entry.song)
        Print({}, {Outcome::kFailed, {}, 0, entry.error}, entry.address);
    }
  }

  struct Transfer {
    std::uint64_t bytes, total;
    double speed;
  };

  void Print(const scrape::SongRecord& song, const DownloadResult& result,
             const std::string& songLink) {
    std::lock_guard lock(mutex_);
    Clear();
    ++done_;
    failed_ = failed_ || result.outcome == Outcome::kFailed;
    const std::string path = result.path.string();
    const std::string shownPath = text::TerminalSafe(path);
    switch (result.outcome) {
      case Outcome::kDownloaded:
        std::cerr << "下载完成:" << shownPath << '\n';
        break;
      case Outcome::kSkipped:
        std::cerr << "已存在:" << shownPath << '\n';
        break;
      case Outcome::kFailed: {
        const std::string link = Unquote(GbkToUtf8(song.downloadLink));
        std::cerr << text::TerminalSafe(link.empty() ? GbkToUtf8(songLink) : link)
                  << "   下载失败:" << text::TerminalSafe(result.error) << '\n';
        break;
      }
    }
    std::cerr << std::flush;
    if (json_) {
      nlohmann::ordered_json j = {
          {"status", StatusName(result.outcome)},
          {"path", path},
          {"bytes", result.bytes},
          {"singer", GbkToUtf8(song.singer)},
          {"title", GbkToUtf8(song.title)},
          {"downloadLink", GbkToUtf8(song.downloadLink)},
          {"songLink", GbkToUtf8(songLink)},
          {"error", result.outcome == Outcome::kFailed ? nlohmann::ordered_json(result.error)
                                                       : nlohmann::ordered_json(nullptr)}};
      std::cout << text::TerminalSafeJson(j.dump()) << '\n';
    } else {
      std::cout << StatusName(result.outcome) << '\t' << shownPath << '\t' << result.bytes << '\t'
                << text::TerminalSafe(GbkToUtf8(songLink)) << '\n';
    }
    std::cout << std::flush;
    // A song under way whose result is out is no longer drawn.
    active_.clear();
  }

  void Clear() {
    if (shown_)
      std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

  void Draw() {
    std::uint64_t bytes = 0, left = 0, sizes = 0;
    double speed = 0;
    for (const auto& [index, transfer] : active_) {
      bytes += transfer.bytes;
      speed += transfer.speed;
      sizes += transfer.total;
      if (transfer.total > transfer.bytes)
        left += transfer.total - transfer.bytes;
    }
    // Songs not started yet count as the size of those under way.
    const std::size_t waiting = total_ - std::min(total_, done_ + active_.size());
    if (!active_.empty())
      left += waiting * (sizes / active_.size());
    std::cerr << "\r\033[K" << done_ << '/' << total_ << "  "
              << HumanBytes(static_cast<double>(bytes)) << "  " << HumanBytes(speed) << "/s";
    if (speed > 0 && left > 0) {
      const auto seconds = static_cast<long>(static_cast<double>(left) / speed);
      std::cerr << "  " << seconds / 60 << ':' << (seconds % 60 < 10 ? "0" : "") << seconds % 60;
    }
    std::cerr << std::flush;
    shown_ = true;
  }

  std::mutex mutex_;
  const bool json_;
  const bool live_;
  const std::vector<Entry>& entries_;
  const std::vector<std::size_t> songEntries_;
  const std::size_t total_;
  std::size_t reported_ = 0;  // entries before this one are out
  std::size_t done_ = 0;
  bool failed_ = false;
  bool shown_ = false;
  std::map<std::size_t, Transfer> active_;
};

int RunDownloads(const DownloadCommandOptions& command, const download::DownloadOptions& options,
                 CliContext& context) {
  InterruptStop interrupt;
  if (std::ranges::find(command.addresses, "-") != command.addresses.end())
    context.sitePortPatience = std::chrono::seconds(1);
  const std::vector<Entry> entries =
      ReadEntries(command.addresses, command.jobs, context.EnsureSite, interrupt.Token());
  if (interrupt.Interrupted())
    return kInterruptedExit;

  std::vector<scrape::SongRecord> songs;
  std::vector<std::size_t> songEntries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].song) {
      songEntries.push_back(i);
      songs.push_back(*entries[i].song);
    }
  }
  ConsoleDownloads console(context.json, StderrIsTerminal(), entries, std::move(songEntries));
  const bool complete = download::DownloadSongs(songs, options, console, interrupt.Token());
  if (!complete || interrupt.Interrupted())
    return kInterruptedExit;
  console.Finish();
  return console.AnyFailed() ? 1 : 0;
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "download", "Save songs to disk: song page addresses, or - for songs on standard input");
  auto options = std::make_shared<DownloadCommandOptions>();
  command
      ->add_option("ADDRESS", options->addresses,
                   "Song page address, or - to read songs as parse, crawl and search print them")
      ->required();
  command->add_option("-P,--paths", options->folder, "Folder the songs are saved in")
      ->type_name("DIR")
      ->capture_default_str();
  command
      ->add_option("-o,--output", options->nameTemplate,
                   "File name template: {singer}, {title}, {ext}")
      ->type_name("TEMPLATE")
      ->capture_default_str();
  command->add_option("--jobs", options->jobs, "Songs downloaded at once")
      ->type_name("N")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command
      ->add_option("--archive", options->archive,
                   "Record downloaded songs in FILE and skip those recorded there")
      ->type_name("FILE");
  command->add_flag("--no-continue", options->noContinue,
                    "Start every song from the beginning instead of resuming its .part file");
  command->add_flag("--force-overwrites", options->forceOverwrites,
                    "Download songs whose file exists again, replacing it");
  command->add_option("--retries", options->retries, "Attempts after a failing one")
      ->type_name("N")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  command
      ->add_option("--limit-rate", options->limitRate,
                   "Most bytes a second per song (like 500K, 2M)")
      ->type_name("RATE")
      ->check([](const std::string& value) {
        return ParseSize(value) ? std::string() : "RATE must look like 500K or 2M";
      });
  command
      ->add_option("--max-filesize", options->maxFileSize,
                   "Fail a song that grows past SIZE (like 500K, 2M, 1G); default 1G")
      ->type_name("SIZE")
      ->check([](const std::string& value) {
        return ParseSize(value) ? std::string() : "SIZE must look like 500K, 2M or 1G";
      });
  command->add_flag("--no-tags", options->noTags, "Save the file byte for byte as served");
  command->add_option("--id3v2-version", options->id3v2Version, "ID3v2 version: 3 or 4")
      ->type_name("3|4")
      ->check(CLI::IsMember({3, 4}))
      ->capture_default_str();
  command->add_flag("--windows-filenames", options->windowsFilenames,
                    "Also replace \\ : * ? \" < > | in file names");
  command->callback([&context, options] {
    download::DownloadOptions core;
    core.folder = options->folder;
    core.nameTemplate = options->nameTemplate;
    core.jobs = options->jobs;
    core.archive = options->archive;
    core.continueParts = !options->noContinue;
    core.overwrite = options->forceOverwrites;
    core.retries = options->retries;
    core.rateLimit = options->limitRate.empty() ? 0 : ParseSize(options->limitRate).value_or(0);
    if (!options->maxFileSize.empty())
      core.maxFileSize = static_cast<std::uint64_t>(ParseSize(options->maxFileSize).value_or(0));
    core.tags = !options->noTags;
    core.id3v2Version = options->id3v2Version;
    core.windowsNames = options->windowsFilenames;
    context.exitCode = RunDownloads(*options, core, context);
  });
}

}  // namespace melo::cli
