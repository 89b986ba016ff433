#include "MailLog.h"

#include <windows.h>

#include <fstream>

namespace lumetra::test {

bool RecordingMailProviderLoaded() {
    HMODULE mapi = ::LoadLibraryA("MAPI32.DLL");
    return mapi && ::GetProcAddress(mapi, "LumetraRecordingProvider");
}

namespace {

std::string Unquote(const std::string& value) {
    if (value.size() < 2 || value.front() != '"')
        return value;
    std::string out;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) {
            const char escaped = value[++i];
            out += escaped == 't' ? '\t' : escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
        } else {
            out += value[i];
        }
    }
    return out;
}

MailLogRecord ParseRecord(const std::string& line) {
    MailLogRecord record;
    std::size_t start = line.find('\t');
    record.kind = line.substr(0, start);
    while (start != std::string::npos) {
        const std::size_t end = line.find('\t', start + 1);
        const std::string field = line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        const std::size_t equals = field.find('=');
        if (equals != std::string::npos)
            record.fields[field.substr(0, equals)] = Unquote(field.substr(equals + 1));
        start = end;
    }
    return record;
}

} // namespace

const std::string& MailLogRecord::operator[](const std::string& key) const {
    static const std::string missing = "<missing>";
    const auto found = fields.find(key);
    return found == fields.end() ? missing : found->second;
}

std::vector<MailLogRecord> ReadMailLogRecords(const std::string& path) {
    std::vector<MailLogRecord> records;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            records.push_back(ParseRecord(line));
    }
    return records;
}

std::vector<RecordedMail> ReadMailLog(const std::string& path) {
    std::vector<RecordedMail> mails;
    for (const MailLogRecord& record : ReadMailLogRecords(path)) {
        if (record.kind == "SEND")
            mails.push_back({record["subject"], record["note"], {}, {}});
        else if (record.kind == "RECIP" && !mails.empty())
            mails.back().recipients.push_back(record["name"]);
        else if (record.kind == "FILE" && !mails.empty())
            mails.back().attachments.push_back(record["path"]);
    }
    return mails;
}

ScopedMailLog::ScopedMailLog() {
    char program[MAX_PATH] = {};
    const std::string programPath(program, ::GetModuleFileNameA(nullptr, program, MAX_PATH));
    path_ = programPath.substr(0, programPath.find_last_of('\\')) + "\\mapi_" +
            std::to_string(::GetCurrentProcessId()) + ".log";
    ::DeleteFileA(path_.c_str());
    ::SetEnvironmentVariableA("LUMETRA_MAPI_LOG", path_.c_str());
}

ScopedMailLog::~ScopedMailLog() {
    ::SetEnvironmentVariableA("LUMETRA_MAPI_LOG", nullptr);
    ::DeleteFileA(path_.c_str());
}

} // namespace lumetra::test
