#pragma once
// The log of the recording MAPI32.DLL of tests/mapistub: one line per call, its kind, then
// tab-separated key=value fields (MapiStub.cpp lists the records).

#include <map>
#include <string>
#include <vector>

namespace lumetra::test {

struct MailLogRecord {
    std::string kind;                          // LOGON, RESOLVE, SEND, ...
    std::map<std::string, std::string> fields; // strings unquoted
    // The field's value; "<missing>" when the record has no such field.
    const std::string& operator[](const std::string& key) const;
};
std::vector<MailLogRecord> ReadMailLogRecords(const std::string& path);

// One message as sent.
struct RecordedMail {
    std::string subject;
    std::string note;
    std::vector<std::string> recipients;  // names as resolved
    std::vector<std::string> attachments; // path names
};
std::vector<RecordedMail> ReadMailLog(const std::string& path);

// Whether the MAPI32.DLL this process would mail through is the recorder (not Wine's, which hands
// every mail to the desktop's mail program).
bool RecordingMailProviderLoaded();

// A log of this test program's own, next to it, named in LUMETRA_MAPI_LOG for the recorder this
// process loads while the object lives; removed when the object is made and when it goes.
class ScopedMailLog {
  public:
    ScopedMailLog();
    ~ScopedMailLog();
    ScopedMailLog(const ScopedMailLog&) = delete;
    ScopedMailLog& operator=(const ScopedMailLog&) = delete;

    const std::string& path() const { return path_; }
    std::vector<MailLogRecord> Records() const { return ReadMailLogRecords(path_); }
    std::vector<RecordedMail> Mails() const { return ReadMailLog(path_); }

  private:
    std::string path_;
};

} // namespace lumetra::test
