#include "delivery/ImageRecord.h"

#include "framework/AnsiText.h"
#include "framework/AppData.h"
#include "framework/Handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace lumetra {

namespace {
constexpr char Header[] = "lumetra image record 1\n";
constexpr wchar_t ImageExtension[] = L".jpg";
static_assert(std::size(ImageExtension) - 1 + TimeStampDigits == TimeStampSuffixLength);

// Every record file of the process is read and written under one lock: a retention run rewriting a
// record must not lose a line its camera appends meanwhile, nor a rename move it halfway.
std::mutex recordLock;
// The folder named by each record's last folder line, as this process wrote it; a record missing
// here gets a folder line before its next image.
std::map<std::wstring, std::wstring> folderAtEnd;

std::string ImageLine(const RecordedImage& image) {
    return WideToUtf8(image.name) + '\t' + std::to_string(image.bytes) + '\t' +
           std::to_string(image.writeTime) + '\n';
}

std::string FolderLine(const std::wstring& folder) {
    return "F\t" + WideToUtf8(folder) + '\n';
}

bool ParseNumber(const char* begin, const char* end, std::uint64_t& value) {
    if (begin == end || end - begin > 20)
        return false;
    value = 0;
    for (const char* c = begin; c != end; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
    }
    return true;
}

std::string ReadBytes(HANDLE file, std::uint64_t from, std::uint64_t to) {
    std::string bytes(static_cast<size_t>(to - from), '\0');
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(from);
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return {};
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 24));
        if (!::ReadFile(file, bytes.data() + done, chunk, &read, nullptr) || read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

std::uint64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    // Reading moved the file pointer: what is added goes at the end.
    ::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END);
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

UniqueFile OpenRecord(const std::wstring& path, DWORD access, DWORD disposition) {
    return UniqueFile(::CreateFileW(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Whether the record's last byte ends a line (or the record is empty).
bool EndsWithNewline(HANDLE file, std::uint64_t size) {
    return size == 0 || ReadBytes(file, size - 1, size) == "\n";
}

void CreateRecordFolder(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return;
    const std::wstring folder = path.substr(0, slash);
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    CreateRecordFolder(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
}

std::uint64_t Digest(const char* bytes, size_t length) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

RecordContents Parse(const std::string& bytes) {
    RecordContents contents;
    std::map<std::wstring, size_t> folderIndex;
    RecordedFolder* current = nullptr;
    size_t start = 0;
    for (size_t end = bytes.find('\n'); end != std::string::npos;
         start = end + 1, end = bytes.find('\n', start)) {
        contents.endOffset = end + 1;
        const char* line = bytes.data() + start;
        const char* lineEnd = bytes.data() + end;
        if (lineEnd - line >= 2 && line[0] == 'F' && line[1] == '\t') {
            const std::wstring folder = Utf8ToWide(line + 2, static_cast<size_t>(lineEnd - line - 2));
            auto [at, added] = folderIndex.try_emplace(folder, contents.folders.size());
            if (added)
                contents.folders.push_back({folder, {}});
            current = &contents.folders[at->second];
            contents.folderAtEnd = folder;
            continue;
        }
        const char* tab1 = std::find(line, lineEnd, '\t');
        const char* tab2 = tab1 == lineEnd ? lineEnd : std::find(tab1 + 1, lineEnd, '\t');
        RecordedImage image;
        if (!current || tab2 == lineEnd || !ParseNumber(tab1 + 1, tab2, image.bytes) ||
            !ParseNumber(tab2 + 1, lineEnd, image.writeTime))
            continue; // the header, or a line spoilt by a crash
        image.name = Utf8ToWide(line, static_cast<size_t>(tab1 - line));
        contents.lastFolder = current->folder;
        contents.lastName = image.name;
        current->images.push_back(std::move(image));
    }
    contents.digest = Digest(bytes.data(), static_cast<size_t>(contents.endOffset));
    return contents;
}

std::string FoldedUtf8(const std::string& cameraName) {
    std::wstring wide = AnsiToWide(cameraName);
    if (!wide.empty())
        ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return WideToUtf8(wide);
}
} // namespace

bool IsTimeStampedName(const std::wstring& name) {
    if (name.size() <= TimeStampSuffixLength)
        return false;
    const size_t digits = name.size() - TimeStampSuffixLength;
    for (size_t i = digits; i < digits + TimeStampDigits; ++i)
        if (name[i] < L'0' || name[i] > L'9')
            return false;
    const int extension = static_cast<int>(std::size(ImageExtension) - 1);
    return ::CompareStringOrdinal(name.data() + digits + TimeStampDigits, extension, ImageExtension,
                                  extension, TRUE) == CSTR_EQUAL;
}

std::optional<RecordedImage> RecordedImageOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    const size_t slash = path.find_last_of(L"\\/");
    return RecordedImage{slash == std::wstring::npos ? path : path.substr(slash + 1),
                         (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                         (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime};
}

std::wstring ImageRecordFolder() {
    const std::wstring folder = LumetraDataFolder();
    return folder.empty() ? folder : folder + L"\\records";
}

std::wstring ImageRecordPath(const std::string& cameraName) {
    const std::wstring folder = ImageRecordFolder();
    if (folder.empty())
        return {};
    // The name's letters may not all be allowed in a file name: its hash names the file.
    const std::string folded = FoldedUtf8(cameraName);
    const std::uint64_t hash = Digest(folded.data(), folded.size());
    wchar_t name[32];
    std::swprintf(name, std::size(name), L"%016llx.txt", static_cast<unsigned long long>(hash));
    return folder + L"\\" + name;
}

ImageRecord::ImageRecord(const std::string& cameraName) : path_(ImageRecordPath(cameraName)) {}

ImageRecord ImageRecord::AtPath(std::wstring path) {
    return ImageRecord(AtPathTag{}, std::move(path));
}

bool ImageRecord::Add(const std::wstring& folder, const std::vector<RecordedImage>& images) {
    if (path_.empty())
        return false;
    std::string lines;
    for (const RecordedImage& image : images)
        if (IsTimeStampedName(image.name))
            lines += ImageLine(image);
    if (lines.empty())
        return true;
    std::lock_guard lock(recordLock);
    UniqueFile file = OpenRecord(path_, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS);
    if (!file) {
        CreateRecordFolder(path_);
        file = OpenRecord(path_, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS);
        if (!file)
            return false;
    }
    const std::uint64_t size = SizeOf(file.get());
    std::string bytes;
    if (size == 0)
        bytes = Header;
    else if (!EndsWithNewline(file.get(), size))
        bytes = "\n"; // the rest of a line a crash cut off is left for the reader to skip
    auto known = folderAtEnd.find(path_);
    if (size == 0 || known == folderAtEnd.end() || known->second != folder)
        bytes += FolderLine(folder);
    bytes += lines;
    if (!WriteAll(file.get(), bytes)) {
        folderAtEnd.erase(path_);
        return false;
    }
    folderAtEnd[path_] = folder;
    return true;
}

RecordContents ImageRecord::Read() const {
    std::lock_guard lock(recordLock);
    const UniqueFile file = OpenRecord(path_, GENERIC_READ, OPEN_EXISTING);
    if (!file)
        return {};
    return Parse(ReadBytes(file.get(), 0, SizeOf(file.get())));
}

bool ImageRecord::Rewrite(const RecordContents& read, const std::vector<RecordedFolder>& kept) {
    std::lock_guard lock(recordLock);
    std::string added;
    std::wstring folderOfAdded;
    {
        const UniqueFile file = OpenRecord(path_, GENERIC_READ, OPEN_EXISTING);
        if (!file)
            return false; // moved to another name meanwhile
        const std::uint64_t size = SizeOf(file.get());
        if (size < read.endOffset)
            return false;
        const std::string before = ReadBytes(file.get(), 0, read.endOffset);
        if (before.size() != read.endOffset || Digest(before.data(), before.size()) != read.digest)
            return false; // not the record that was read
        folderOfAdded = read.folderAtEnd;
        added = ReadBytes(file.get(), read.endOffset, size);
    }
    std::string bytes = Header;
    for (const RecordedFolder& folder : kept) {
        if (folder.images.empty())
            continue;
        bytes += FolderLine(folder.folder);
        for (const RecordedImage& image : folder.images)
            bytes += ImageLine(image);
    }
    if (!added.empty()) {
        bytes += FolderLine(folderOfAdded);
        bytes += added;
    }
    const std::wstring temporary = path_ + L".new";
    {
        const UniqueFile file = OpenRecord(temporary, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file || !WriteAll(file.get(), bytes))
            return false;
    }
    if (!::MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    folderAtEnd.erase(path_);
    return true;
}

bool MoveImageRecord(const std::string& fromCamera, const std::string& toCamera) {
    const std::wstring from = ImageRecordPath(fromCamera), to = ImageRecordPath(toCamera);
    if (from.empty() || from == to)
        return false;
    std::lock_guard lock(recordLock);
    folderAtEnd.erase(from);
    folderAtEnd.erase(to);
    if (::MoveFileExW(from.c_str(), to.c_str(), 0))
        return true;
    // The other name has a record of its own: this one is added to it.
    std::string moved;
    {
        const UniqueFile source = OpenRecord(from, GENERIC_READ, OPEN_EXISTING);
        if (!source)
            return false;
        moved = ReadBytes(source.get(), 0, SizeOf(source.get()));
    }
    if (moved.rfind(Header, 0) == 0)
        moved.erase(0, std::size(Header) - 1);
    const UniqueFile target = OpenRecord(to, GENERIC_READ | FILE_APPEND_DATA, OPEN_EXISTING);
    if (!target)
        return false;
    const std::uint64_t size = SizeOf(target.get());
    if (!EndsWithNewline(target.get(), size))
        moved.insert(0, "\n");
    if (!WriteAll(target.get(), moved))
        return false;
    ::DeleteFileW(from.c_str());
    return true;
}

} // namespace lumetra
