// bench_compression [FILE]: compression ratio and speed of every algorithm at
// modes 1, 5 and 9 on English text (FILE, or a built-in sample of a few MB)
// and on structured binary data. Beside our PPM the figures of PPMd variant H
// at the same model order and memory are printed, from two sources when they
// are installed: 7-Zip's native coder (Debian package 7zip, "PPMd-H-7z": a
// fair speed figure; its ratio includes the archive's few header bytes) and
// the python3-ppmd module ("PPMd-H", exact ratio, speed estimated without
// Python's overhead). Both run as child processes.
//
// One row per algorithm and mode:  PPM mode=5 ratio=0.2731 MBps=12.3
// ratio = compressed bytes / input bytes; MBps = input MB (10^6 bytes) per
// second of processor time spent compressing. Every result of ours is
// decompressed and compared.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "engine/storage/compression/VRXCompression.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kSampleSize = 4 << 20;
constexpr uint8_t kModes[] = {1, 5, 9};

// A small deterministic generator, so that every run measures the same bytes.
class Rng {
 public:
  explicit Rng(uint64_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 7;
    x_ ^= x_ << 17;
    return static_cast<uint32_t>(x_ >> 11);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t x_;
};

// English-like prose: sentences from templates over a vocabulary of a few
// hundred words drawn with Zipf-like frequencies, with capitals,
// punctuation, numbers, names and paragraphs.
Bytes EnglishSample(size_t size) {
  static const char* const kFunction[] = {
      "the", "of", "and", "to", "a", "in", "that", "is", "was", "he", "for", "it", "with",
      "as", "his", "on", "be", "at", "by", "had", "not", "are", "but", "from", "or", "have",
      "an", "they", "which", "one", "you", "were", "her", "all", "she", "there", "would",
      "their", "we", "him", "been", "has", "when", "who", "will", "more", "no", "if", "out",
      "so", "what", "up", "its", "about", "into", "than", "them", "can", "only", "other"};
  static const char* const kNouns[] = {
      "game", "table", "round", "player", "score", "evening", "tournament", "board", "room",
      "organiser", "winner", "result", "hour", "night", "friend", "question", "rule", "point",
      "town", "house", "water", "window", "letter", "morning", "people", "time", "year", "way",
      "day", "man", "woman", "child", "world", "life", "hand", "part", "place", "case", "week",
      "company", "system", "program", "number", "group", "problem", "fact", "money", "story",
      "moment", "door", "book", "face", "voice", "street", "country", "idea", "reason", "end",
      "family", "government", "school", "river", "mountain", "road", "car", "train", "station",
      "garden", "tree", "bird", "dog", "horse", "kitchen", "bread", "coffee", "paper", "office",
      "meeting", "market", "price", "city", "village", "church", "doctor", "teacher", "student",
      "history", "music", "picture", "colour", "light", "fire", "sea", "summer", "winter",
      "language", "power", "war", "peace", "law", "court", "army", "field", "body", "heart",
      "mind", "eye", "head", "friendship", "silence", "answer", "chance", "decision", "plan"};
  static const char* const kVerbs[] = {
      "said", "made", "found", "took", "came", "knew", "thought", "looked", "wanted", "gave",
      "told", "asked", "seemed", "felt", "left", "kept", "began", "brought", "played", "won",
      "lost", "counted", "wrote", "read", "opened", "closed", "watched", "turned", "moved",
      "believed", "remembered", "understood", "carried", "followed", "changed", "reached",
      "decided", "explained", "noticed", "returned", "offered", "suggested", "built", "sent",
      "paid", "met", "stood", "heard", "saw", "learned", "shared", "chose", "waited", "called"};
  static const char* const kAdjectives[] = {
      "good", "new", "first", "last", "long", "great", "little", "old", "big", "high",
      "small", "large", "next", "early", "young", "important", "few", "public", "bad", "same",
      "able", "quiet", "final", "second", "careful", "strange", "certain", "whole", "dark",
      "bright", "cold", "warm", "heavy", "simple", "serious", "happy", "difficult", "clear",
      "free", "full", "local", "natural", "private", "real", "short", "special", "true"};
  static const char* const kAdverbs[] = {
      "then", "now", "again", "never", "always", "still", "almost", "already", "quickly",
      "slowly", "together", "perhaps", "suddenly", "finally", "often", "soon", "later"};
  static const char* const kPrepositions[] = {"in", "on", "at", "near", "behind", "under",
                                              "across", "through", "after", "before", "over",
                                              "without", "beside", "towards", "around"};
  static const char* const kNames[] = {"Anna", "Tomas", "Eva", "Martin", "Jana", "Pavel",
                                       "Lucie", "Jakub", "Petra", "Ondrej", "Karel", "Marie"};
  Rng rng(2024);
  auto zipf = [&rng](size_t n) {
    // Squaring a uniform draw favours the first entries.
    const double u = (rng.Next() % 1000000) / 1000000.0;
    return static_cast<size_t>(u * u * static_cast<double>(n));
  };
  auto pick = [&](const char* const* words, size_t n) { return std::string(words[zipf(n)]); };
#define PICK(list) pick(list, sizeof list / sizeof list[0])
  auto name = [&] { return std::string(kNames[rng.Below(12)]); };
  auto phrase = [&] {
    std::string p = "the ";
    if (rng.Below(2)) p += PICK(kAdjectives) + " ";
    p += PICK(kNouns);
    if (rng.Below(3) == 0)
      p.append(" ").append(PICK(kPrepositions)).append(" the ").append(PICK(kNouns));
    return p;
  };
  std::string out;
  out.reserve(size + 512);
  int sentencesInParagraph = 0;
  while (out.size() < size) {
    std::string s;
    switch (rng.Below(8)) {
      case 0: s = phrase() + " " + PICK(kVerbs) + " " + PICK(kFunction) + " " + phrase(); break;
      case 1:
        s = name() + " " + PICK(kVerbs) + " that " + phrase() + " was " + PICK(kAdjectives);
        break;
      case 2:
        s = "after " + std::to_string(1 + rng.Below(12)) + " rounds " + PICK(kPrepositions) + " " +
            phrase() + ", " + name() + " had " + std::to_string(rng.Below(200)) + " points";
        break;
      case 3:
        s = "it " + PICK(kVerbs) + " " + PICK(kAdverbs) + ", and " + phrase() + " " +
            PICK(kVerbs) + " " + PICK(kPrepositions) + " " + phrase();
        break;
      case 4:
        s = "\"" + PICK(kFunction) + " " + PICK(kNouns) + " " + PICK(kVerbs) + " " + phrase() +
            "\", " + name() + " said " + PICK(kAdverbs);
        break;
      case 5:
        s = "when " + name() + " " + PICK(kVerbs) + " " + phrase() + ", " + PICK(kFunction) +
            " " + PICK(kNouns) + " " + PICK(kVerbs) + " " + PICK(kAdjectives);
        break;
      case 6:
        s = PICK(kAdverbs) + " " + name() + " and " + name() + " " + PICK(kVerbs) + " " +
            phrase() + " " + PICK(kPrepositions) + " " + phrase();
        break;
      default:
        s = PICK(kFunction) + " " + PICK(kAdjectives) + " " + PICK(kNouns) + " of " + phrase() +
            " " + PICK(kVerbs) + " " + PICK(kFunction) + " " + PICK(kNouns);
        break;
    }
    if (s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    if (s[0] == '"' && s[1] >= 'a' && s[1] <= 'z') s[1] = static_cast<char>(s[1] - 'a' + 'A');
    static const char* const kEndings[] = {". ", ". ", ". ", ". ", "? ", "! ", "; "};
    out += s;
    out += kEndings[rng.Below(7)];
    if (++sentencesInParagraph >= 4 + static_cast<int>(rng.Below(5))) {
      out.back() = '\n';
      out += '\n';
      sentencesInParagraph = 0;
    }
  }
#undef PICK
  out.resize(size);
  return Bytes(out.begin(), out.end());
}

// Structured binary data as a database holds it: fixed records with ids,
// small counters, flags, doubles, short names and some noise.
Bytes BinarySample(size_t size) {
  static const char* const kNames[] = {"Novak", "Svoboda", "Dvorak", "Cerny", "Prochazka",
                                       "Kucera", "Vesely", "Horak", "Nemec", "Pokorny"};
  Rng rng(77);
  Bytes out;
  out.reserve(size + 64);
  auto put = [&out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (uint32_t id = 1; out.size() < size; ++id) {
    put(id, 4);
    put(rng.Below(40), 2);
    put(rng.Below(4) == 0 ? 1 : 0, 1);
    const double score = static_cast<double>(rng.Below(100000)) / 100.0;
    uint64_t bits;
    static_assert(sizeof bits == sizeof score);
    std::memcpy(&bits, &score, sizeof bits);
    put(bits, 8);
    const char* name = kNames[rng.Below(10)];
    char field[16] = {};
    std::strncpy(field, name, sizeof field - 1);
    out.insert(out.end(), field, field + sizeof field);
    put(rng.Next(), 4);
  }
  out.resize(size);
  return out;
}

// Processor time of this process: the machine the benchmark runs on is often
// shared, and the codings are single-threaded.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void PrintRow(const char* name, int mode, size_t input, size_t output, double seconds) {
  std::printf("%s mode=%d ratio=%.4f MBps=%.1f\n", name, mode,
              static_cast<double>(output) / static_cast<double>(input),
              static_cast<double>(input) / 1e6 / seconds);
  std::fflush(stdout);
}

void RunOurs(const char* name, uint8_t algorithm, const Bytes& input) {
  for (uint8_t mode : kModes) {
    Bytes packed;
    double seconds = 0;
    int runs = 0;
    // Short codings are repeated for a steadier figure.
    do {
      const double start = CpuSeconds();
      if (!vrx::CompressBuffer(algorithm, mode, input.data(), input.size(), packed)) {
        std::printf("%s mode=%d FAILED to compress\n", name, mode);
        return;
      }
      seconds += CpuSeconds() - start;
      ++runs;
    } while (seconds < 0.3 && runs < 20);
    Bytes unpacked;
    const double start = CpuSeconds();
    const bool ok =
        vrx::DecompressBuffer(algorithm, packed.data(), packed.size(), input.size(), unpacked) &&
        unpacked == input;
    const double decompressSeconds = CpuSeconds() - start;
    PrintRow(name, mode, input.size(), packed.size(), seconds / runs);
    if (!ok) std::printf("%s mode=%d ROUND TRIP FAILED\n", name, mode);
    std::printf("#   decompression MBps=%.1f\n", static_cast<double>(input.size()) / 1e6 /
                                                     decompressSeconds);
  }
}

// The variant H figures come from python3-ppmd in a child process, fed the
// same bytes through a temporary file.
const char kPythonScript[] = R"PY(
import io, sys, time
try:
    import ppmd
except ImportError:
    print("MISSING")
    sys.exit(0)

def encode(data, order, mem):
    # ppmd-cffi (Debian's python3-ppmd) writes into a file object; other
    # bindings return the bytes.
    try:
        sink = io.BytesIO()
        enc = ppmd.Ppmd7Encoder(sink, order, mem)
        enc.encode(data)
        enc.flush()
        enc.close()
        return len(sink.getvalue())
    except TypeError:
        enc = ppmd.Ppmd7Encoder(order, mem)
        out = enc.encode(data)
        try:
            out += enc.flush(endmark=True)
        except TypeError:
            out += enc.flush()
        return len(out)

# ppmd-cffi calls the coder once per byte from Python. The same loop calling
# a trivial function of the same library measures that overhead, so that
# the coder's own time can be estimated as the difference.
class CallOverhead:
    def __init__(self):
        self.ppmd = ppmd.ffi.new("CPpmd7z_RangeEnc *")
        self.rc = ppmd.ffi.new("CPpmd7z_RangeEnc *")

    def encode(self, inbuf):
        for sym in inbuf:
            ppmd.lib.Ppmd7z_RangeEnc_Init(self.rc)

def overhead(data):
    try:
        probe = CallOverhead()
    except Exception:
        return 0.0
    start = time.process_time()
    probe.encode(data)
    return time.process_time() - start

# The coder hands every output byte to a Python callback (ppmd.dst_write);
# the same work done from Python estimates that share.
def output_overhead(count):
    try:
        probe = CallOverhead()
        probe.destination = io.BytesIO()
        handle = ppmd.ffi.new_handle(probe)
        cell = ppmd.ffi.new("char[1]")
    except Exception:
        return 0.0
    def dst_write(b, size, userdata):
        encoder = ppmd.ffi.from_handle(userdata)
        encoder.destination.write(ppmd.ffi.buffer(b, size))
    start = time.process_time()
    for _ in range(count):
        dst_write(cell, 1, handle)
    return time.process_time() - start

data = open(sys.argv[1], "rb").read()
base = overhead(data)
for spec in sys.argv[2:]:
    mode, order, mem = (int(x) for x in spec.split(":"))
    total = 0.0
    runs = 0
    while total < 0.3 and runs < 20:
        start = time.process_time()
        size = encode(data, order, mem << 20)
        total += time.process_time() - start
        runs += 1
    print(mode, size, total / runs, base + output_overhead(size))
    sys.stdout.flush()
)PY";

std::string WriteTempFile(const void* data, size_t size, const char* suffix) {
  std::string name = std::string(P_tmpdir) + "/bench_compressionXXXXXX" + suffix;
  const int fd = mkstemps(name.data(), static_cast<int>(std::strlen(suffix)));
  if (fd < 0) return {};
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, p + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size ? name : std::string();
}

void RunVariantH(const Bytes& input) {
  const std::string script = WriteTempFile(kPythonScript, sizeof kPythonScript - 1, ".py");
  const std::string data = WriteTempFile(input.data(), input.size(), ".bin");
  if (script.empty() || data.empty()) {
    std::printf("PPMd-H: cannot write temporary files\n");
    return;
  }
  // Debian's own interpreter, where python3-ppmd installs; a python3 found
  // first on PATH may not see Debian's modules.
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::string command = std::string(python) + " " + script + " " + data;
  for (uint8_t mode : kModes) {
    const auto p = vrx::PPMParametersForMode(mode);
    command += " " + std::to_string(mode) + ":" + std::to_string(p.order) + ":" +
               std::to_string(p.memoryMB);
  }
  command += " 2>&1";
  std::printf("# PPMd-H: python3-ppmd calls its coder once per input byte from Python and the\n"
              "# coder calls back into Python once per output byte; MBps below estimate the\n"
              "# coder alone: time through python3 less the same loop calling a trivial\n"
              "# function of that library and less the callbacks' Python work.\n");
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) {
    std::printf("PPMd-H: cannot start python3\n");
  } else {
    char line[512];
    while (std::fgets(line, sizeof line, child) != nullptr) {
      int mode = 0;
      unsigned long long packed = 0;
      double seconds = 0;
      double overhead = 0;
      if (std::sscanf(line, "%d %llu %lf %lf", &mode, &packed, &seconds, &overhead) == 4 &&
          seconds > 0) {
        const double coder = seconds - overhead;
        PrintRow("PPMd-H", mode, input.size(), static_cast<size_t>(packed),
                 coder > 0 ? coder : seconds);
        std::printf("#   through python3: MBps=%.1f, of which Python calls %.2f s\n",
                    static_cast<double>(input.size()) / 1e6 / seconds, overhead);
      } else if (std::string(line).rfind("MISSING", 0) == 0) {
        std::printf("PPMd-H: python3 module ppmd is not installed (Debian package python3-ppmd); "
                    "no variant H figures\n");
      } else {
        std::printf("PPMd-H: %s", line);
      }
    }
    const int status = pclose(child);
    if (status != 0) std::printf("PPMd-H: python3 exited with status %d\n", status);
  }
  std::remove(script.c_str());
  std::remove(data.c_str());
}

extern "C" char** environ;

// 7-Zip's PPMd is variant H with its own range coder. The figures are the
// child's processor time (single-threaded) and the archive size.
void RunVariantH7z(const Bytes& input) {
  const char* tool = access("/usr/bin/7zz", X_OK) == 0 ? "/usr/bin/7zz" : nullptr;
  if (tool == nullptr) {
    std::printf("PPMd-H-7z: 7zz is not installed (Debian package 7zip); no native variant H figures\n");
    return;
  }
  const std::string data = WriteTempFile(input.data(), input.size(), ".bin");
  if (data.empty()) {
    std::printf("PPMd-H-7z: cannot write temporary files\n");
    return;
  }
  const std::string archive = data + ".7z";
  for (uint8_t mode : kModes) {
    const auto p = vrx::PPMParametersForMode(mode);
    const std::string method =
        "-m0=PPMd:o=" + std::to_string(p.order) + ":mem=" + std::to_string(p.memoryMB) + "m";
    double seconds = 0;
    int runs = 0;
    off_t packed = 0;
    do {
      std::remove(archive.c_str());
      std::vector<std::string> args = {tool, "a", "-t7z", method, "-mmt=1", "-bd", "-bso0",
                                       "-bsp0", archive, data};
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      pid_t pid = 0;
      if (posix_spawn(&pid, tool, nullptr, nullptr, argv.data(), environ) != 0) {
        std::printf("PPMd-H-7z: cannot start %s\n", tool);
        std::remove(data.c_str());
        return;
      }
      int status = 0;
      rusage usage{};
      if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0) {
        std::printf("PPMd-H-7z: %s failed\n", tool);
        std::remove(data.c_str());
        return;
      }
      seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      ++runs;
      struct stat st {};
      if (stat(archive.c_str(), &st) == 0) packed = st.st_size;
    } while (seconds < 0.3 && runs < 10);
    PrintRow("PPMd-H-7z", mode, input.size(), static_cast<size_t>(packed), seconds / runs);
  }
  std::remove(archive.c_str());
  std::remove(data.c_str());
}

void RunAll(const char* title, const Bytes& input) {
  std::printf("# %s: %zu bytes\n", title, input.size());
  RunOurs("ZLIB", vrx::kCompressionZlib, input);
  RunOurs("BZIP", vrx::kCompressionBzip, input);
  RunOurs("PPM", vrx::kCompressionPPM, input);
  RunVariantH7z(input);
  RunVariantH(input);
}

}  // namespace

int main(int argc, char** argv) {
  Bytes text;
  std::string title;
  if (argc > 1) {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[1]);
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (text.empty()) {
      std::fprintf(stderr, "%s is empty\n", argv[1]);
      return 1;
    }
    title = std::string("file ") + argv[1];
  } else {
    text = EnglishSample(kSampleSize);
    title = "built-in English text";
  }
  RunAll(title.c_str(), text);
  RunAll("built-in binary records", BinarySample(kSampleSize));
  return 0;
}
