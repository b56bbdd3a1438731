// Reads the built libraries' export tables straight from their files: the DLL's
// export and import directories (PE) and the shared library's dynamic symbols
// (ELF64). No external tools: two small readers written for this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/driver_library.h"

namespace lxd::exports {
namespace {

// The host's export table: name at ordinal index + 1.
const std::vector<std::string> kExportTable = {
    "GetVersionInfo",    "GetDriverCaps", "StartDetect",    "ContinueDetect", "Connect",
    "Disconnect",        "GetDevCaps",    "GetNumPorts",    "GetPortCaps",    "LockPortBuffer",
    "UnlockPortBuffer",  "GetPortBuffer", "GetNumChannels", "ServiceDevices", "GetBrandingBitmap",
    "GetBrandingString", "Init",          "Shutdown",       "GetChannel",     "GetChannels",
};

// A whole file and bounds-checked little-endian reads from it; a read outside
// the file throws, which the test reports as a failure.
class FileBytes {
  public:
    explicit FileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw std::runtime_error("cannot open " + path);
        }
        in.seekg(0, std::ios::end);
        bytes_.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes_.data()),
                static_cast<std::streamsize>(bytes_.size()));
    }
    std::uint64_t Read(std::uint64_t at, unsigned width) const {
        Need(at, width);
        std::uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            value |= std::uint64_t{bytes_[at + i]} << (8 * i);
        }
        return value;
    }
    std::uint8_t U8(std::uint64_t at) const { return static_cast<std::uint8_t>(Read(at, 1)); }
    std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(Read(at, 2)); }
    std::uint32_t U32(std::uint64_t at) const { return static_cast<std::uint32_t>(Read(at, 4)); }
    std::uint64_t U64(std::uint64_t at) const { return Read(at, 8); }
    // A zero-terminated text that must end inside the file.
    std::string Text(std::uint64_t at) const {
        std::string text;
        for (;; ++at) {
            const std::uint8_t c = U8(at);
            if (c == 0) {
                return text;
            }
            text.push_back(static_cast<char>(c));
        }
    }
    bool StartsWith(const char* magic, std::size_t n) const {
        return bytes_.size() >= n && std::memcmp(bytes_.data(), magic, n) == 0;
    }

  private:
    void Need(std::uint64_t at, std::uint64_t n) const {
        if (at > bytes_.size() || n > bytes_.size() - at) {
            throw std::runtime_error("read past the end of the file");
        }
    }
    std::vector<std::uint8_t> bytes_;
};

// ---- PE ----

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMagicPe32 = 0x010B;
constexpr std::uint16_t kMagicPe32Plus = 0x020B;
constexpr std::uint16_t kFileIsDll = 0x2000;

struct Directory {
    std::uint32_t rva;
    std::uint32_t size;
};

class PeImage {
  public:
    explicit PeImage(const std::string& path) : file_(path) {
        if (!file_.StartsWith("MZ", 2)) {
            throw std::runtime_error(path + " is not a PE image");
        }
        const std::uint32_t pe = file_.U32(0x3C);
        if (file_.U32(pe) != 0x00004550) {  // "PE\0\0"
            throw std::runtime_error(path + " has no PE signature");
        }
        machine = file_.U16(pe + 4);
        const std::uint16_t sections = file_.U16(pe + 6);
        const std::uint16_t optionalSize = file_.U16(pe + 20);
        characteristics = file_.U16(pe + 22);
        const std::uint32_t optional = pe + 24;
        magic = file_.U16(optional);
        if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
            throw std::runtime_error("unknown optional header magic");
        }
        const bool plus = magic == kMagicPe32Plus;
        const std::uint32_t directoryCount = file_.U32(optional + (plus ? 108 : 92));
        const std::uint32_t directories = optional + (plus ? 112 : 96);
        for (std::uint32_t i = 0; i < directoryCount && i < 16; ++i) {
            directories_.push_back(
                {file_.U32(directories + 8 * i), file_.U32(directories + 8 * i + 4)});
        }
        const std::uint32_t table = optional + optionalSize;
        for (std::uint16_t i = 0; i < sections; ++i) {
            const std::uint32_t s = table + 40u * i;
            sections_.push_back({file_.U32(s + 12), file_.U32(s + 16), file_.U32(s + 20)});
        }
    }

    Directory DataDirectory(std::size_t index) const {
        return index < directories_.size() ? directories_[index] : Directory{0, 0};
    }
    // The file offset of a relative virtual address inside a section's raw data.
    std::uint64_t Offset(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva >= s.address && rva - s.address < s.rawSize) {
                return std::uint64_t{s.rawOffset} + (rva - s.address);
            }
        }
        throw std::runtime_error("address " + std::to_string(rva) + " lies in no section");
    }
    std::uint16_t U16At(std::uint32_t rva) const { return file_.U16(Offset(rva)); }
    std::uint32_t U32At(std::uint32_t rva) const { return file_.U32(Offset(rva)); }
    std::string TextAt(std::uint32_t rva) const { return file_.Text(Offset(rva)); }

    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t magic = 0;

  private:
    struct Section {
        std::uint32_t address;
        std::uint32_t rawSize;
        std::uint32_t rawOffset;
    };
    FileBytes file_;
    std::vector<Directory> directories_;
    std::vector<Section> sections_;
};

struct ExportDirectory {
    std::string moduleName;
    std::uint32_t base = 0;
    std::uint32_t functionCount = 0;
    std::vector<std::uint32_t> functions;                      // RVAs, by ordinal - base
    std::vector<std::pair<std::string, std::uint32_t>> names;  // name, ordinal
    Directory where{0, 0};
};

ExportDirectory ReadExports(const PeImage& image) {
    ExportDirectory e;
    e.where = image.DataDirectory(0);
    if (e.where.rva == 0) {
        throw std::runtime_error("no export directory");
    }
    const std::uint32_t d = e.where.rva;
    e.moduleName = image.TextAt(image.U32At(d + 12));
    e.base = image.U32At(d + 16);
    e.functionCount = image.U32At(d + 20);
    const std::uint32_t nameCount = image.U32At(d + 24);
    const std::uint32_t functions = image.U32At(d + 28);
    const std::uint32_t names = image.U32At(d + 32);
    const std::uint32_t ordinals = image.U32At(d + 36);
    for (std::uint32_t i = 0; i < e.functionCount && i < 1024; ++i) {
        e.functions.push_back(image.U32At(functions + 4 * i));
    }
    for (std::uint32_t i = 0; i < nameCount && i < 1024; ++i) {
        e.names.emplace_back(image.TextAt(image.U32At(names + 4 * i)),
                             e.base + image.U16At(ordinals + 2 * i));
    }
    return e;
}

std::vector<std::string> ReadImportedDlls(const PeImage& image) {
    std::vector<std::string> dlls;
    const Directory imports = image.DataDirectory(1);
    if (imports.rva == 0) {
        return dlls;
    }
    for (std::uint32_t at = imports.rva;; at += 20) {
        const std::uint32_t lookup = image.U32At(at);
        const std::uint32_t name = image.U32At(at + 12);
        const std::uint32_t thunks = image.U32At(at + 16);
        if (lookup == 0 && name == 0 && thunks == 0) {
            return dlls;
        }
        dlls.push_back(image.TextAt(name));
        if (dlls.size() > 256) {
            throw std::runtime_error("import directory does not end");
        }
    }
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsSystemDll(const std::string& dll) {
    static const std::set<std::string> kSystem = {
        "kernel32.dll", "user32.dll",   "gdi32.dll",    "ws2_32.dll", "wsock32.dll",
        "msvcrt.dll",   "ucrtbase.dll", "advapi32.dll", "ntdll.dll",
    };
    const std::string name = Lower(dll);
    return kSystem.count(name) != 0 || name.rfind("api-ms-win-", 0) == 0;
}

struct DllCase {
    const char* preset;
    const char* environment;  // overrides the path when set
    std::uint16_t machine;
    std::uint16_t magic;
};

void PrintTo(const DllCase& c, std::ostream* os) {
    *os << c.preset;
}

std::string DllPath(const DllCase& c) {
    const char* fromEnvironment = std::getenv(c.environment);
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return std::string(LXD_SOURCE_DIR) + "/build/" + c.preset + "/bin/lxdravik.dll";
}

class DllExportTable : public ::testing::TestWithParam<DllCase> {
  protected:
    void SetUp() override {
        path_ = DllPath(GetParam());
        if (!std::filesystem::exists(path_)) {
            GTEST_SKIP() << path_ << " does not exist: build the `" << GetParam().preset
                         << "` preset first (./dev.sh test builds it before running the native "
                            "tests), or set "
                         << GetParam().environment << " to a built lxdravik.dll";
        }
    }
    std::string path_;
};

TEST_P(DllExportTable, IsADllOfTheRightKind) {
    const PeImage image(path_);
    EXPECT_EQ(image.machine, GetParam().machine);
    EXPECT_EQ(image.magic, GetParam().magic);
    EXPECT_NE(image.characteristics & kFileIsDll, 0);
}

TEST_P(DllExportTable, ExportsTheTwentyNamesAtTheirOrdinals) {
    const PeImage image(path_);
    const ExportDirectory e = ReadExports(image);
    EXPECT_EQ(e.moduleName, "lxdravik.dll");
    EXPECT_EQ(e.base, 1u);
    ASSERT_EQ(e.functionCount, kExportTable.size());
    ASSERT_EQ(e.names.size(), kExportTable.size()) << "every export has a name";

    std::set<std::string> seen;
    for (const auto& [name, ordinal] : e.names) {
        ASSERT_GE(ordinal, 1u) << name;
        ASSERT_LE(ordinal, kExportTable.size()) << name;
        EXPECT_EQ(name, kExportTable[ordinal - 1]) << "ordinal " << ordinal;
        EXPECT_TRUE(seen.insert(name).second) << name << " exported twice";
    }
    // Every ordinal leads to code of this DLL, not to a forwarder text.
    for (std::size_t i = 0; i < e.functions.size(); ++i) {
        const std::uint32_t rva = e.functions[i];
        EXPECT_NE(rva, 0u) << "ordinal " << i + 1 << " is empty";
        EXPECT_FALSE(rva >= e.where.rva && rva < e.where.rva + e.where.size)
            << "ordinal " << i + 1 << " is forwarded";
    }
}

TEST_P(DllExportTable, ImportsOnlySystemDlls) {
    const PeImage image(path_);
    const std::vector<std::string> dlls = ReadImportedDlls(image);
    EXPECT_FALSE(dlls.empty());
    for (const std::string& dll : dlls) {
        const std::string name = Lower(dll);
        EXPECT_NE(name.rfind("libgcc", 0), 0u) << dll;
        EXPECT_NE(name.rfind("libstdc++", 0), 0u) << dll;
        EXPECT_NE(name.rfind("libwinpthread", 0), 0u) << dll;
        EXPECT_TRUE(IsSystemDll(dll)) << dll << " is not a system DLL";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, DllExportTable,
    ::testing::Values(DllCase{"windows", "LXD_WINDOWS_DLL", kMachineI386, kMagicPe32},
                      DllCase{"windows64", "LXD_WINDOWS64_DLL", kMachineAmd64, kMagicPe32Plus}),
    [](const ::testing::TestParamInfo<DllCase>& info) { return std::string(info.param.preset); });

// ---- ELF64 ----

constexpr std::uint32_t kSectionDynamicSymbols = 11;  // SHT_DYNSYM
constexpr std::uint16_t kUndefinedSection = 0;        // SHN_UNDEF
constexpr std::uint8_t kBindLocal = 0;
constexpr std::uint8_t kBindGlobal = 1;
constexpr std::uint8_t kTypeFunction = 2;

struct DynamicSymbol {
    std::string name;
    std::uint8_t binding;
    std::uint8_t type;
    std::uint8_t visibility;
};

// The defined, non-local symbols of the dynamic symbol table.
std::vector<DynamicSymbol> ReadDefinedDynamicSymbols(const std::string& path) {
    const FileBytes file(path);
    if (!file.StartsWith("\x7F"
                         "ELF",
                         4) ||
        file.U8(4) != 2 || file.U8(5) != 1) {
        throw std::runtime_error(path + " is not a little-endian ELF64 file");
    }
    const std::uint64_t sectionTable = file.U64(0x28);
    const std::uint16_t sectionSize = file.U16(0x3A);
    const std::uint16_t sectionCount = file.U16(0x3C);
    if (sectionSize < 64) {
        throw std::runtime_error("section headers too small");
    }
    std::vector<DynamicSymbol> symbols;
    bool found = false;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t s = sectionTable + std::uint64_t{sectionSize} * i;
        if (file.U32(s + 4) != kSectionDynamicSymbols) {
            continue;
        }
        found = true;
        const std::uint64_t offset = file.U64(s + 24);
        const std::uint64_t size = file.U64(s + 32);
        const std::uint32_t link = file.U32(s + 40);
        const std::uint64_t entrySize = file.U64(s + 56);
        if (entrySize < 24 || link >= sectionCount) {
            throw std::runtime_error("malformed dynamic symbol table");
        }
        const std::uint64_t strings =
            file.U64(sectionTable + std::uint64_t{sectionSize} * link + 24);
        for (std::uint64_t at = offset + entrySize; at + entrySize <= offset + size;
             at += entrySize) {
            const std::uint8_t info = file.U8(at + 4);
            if (file.U16(at + 6) == kUndefinedSection || (info >> 4) == kBindLocal) {
                continue;
            }
            symbols.push_back({file.Text(strings + file.U32(at)),
                               static_cast<std::uint8_t>(info >> 4),
                               static_cast<std::uint8_t>(info & 0x0F),
                               static_cast<std::uint8_t>(file.U8(at + 5) & 0x03)});
        }
    }
    if (!found) {
        throw std::runtime_error(path + " has no dynamic symbol table");
    }
    return symbols;
}

TEST(SharedLibraryExports, DefineExactlyTheTwentyFunctions) {
    const std::string path = host::DefaultDriverPath();
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const std::vector<DynamicSymbol> symbols = ReadDefinedDynamicSymbols(path);
    std::vector<std::string> names;
    for (const DynamicSymbol& s : symbols) {
        names.push_back(s.name);
        EXPECT_EQ(s.binding, kBindGlobal) << s.name;
        EXPECT_EQ(s.type, kTypeFunction) << s.name;
        EXPECT_EQ(s.visibility, 0) << s.name << " is not of default visibility";
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = kExportTable;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace lxd::exports
