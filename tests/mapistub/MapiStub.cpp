// Recording Simple MAPI provider for tests.
//
// One line per call, fields separated by tabs, each field key=value. Strings are written in double
// quotes with \\, \t, \n, \r and \" escaped; a null string pointer is written as null.
//   LOGON    ui= profile= password= flags= session=
//   RESOLVE  session= ui= name= flags= result=
//   SEND     session= ui= flags= reserved= subject= note= type= date= conversation= msgflags=
//            originator=null|set recips= files=
//   RECIP    reserved= class= name= address= eid=<hex>           (one per recipient, after SEND)
//   FILE     reserved= flags= position= path= name= type=null|set (one per attachment)
//   FREE     known=1|0
//   LOGOFF   session= ui= flags=
// Names containing '@' resolve (name as given, address "SMTP:" + name, entry id "EID:" + name);
// others give MAPI_E_UNKNOWN_RECIPIENT. LUMETRA_MAPI_FAIL=logon or =send makes that call fail.

#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <mutex>
#include <map>
#include <string>

namespace {

std::mutex logMutex;

LHANDLE nextSession = 1;

std::string Environment(const char* name) {
    char value[32768];
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

std::string LogPath() {
    std::string path = Environment("LUMETRA_MAPI_LOG");
    if (!path.empty())
        return path;
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<const char*>(&LogPath), &self);
    char modulePath[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(self, modulePath, MAX_PATH);
    return std::string(modulePath, length) + ".log";
}

void WriteRecord(const std::string& record) {
    FILE* file = std::fopen(LogPath().c_str(), "ab");
    if (file == nullptr)
        return;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

std::string Quoted(const char* text) {
    if (text == nullptr)
        return "null";
    std::string out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            out += *p;
        }
    }
    return out + "\"";
}

std::string Hex(const void* data, ULONG size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (ULONG i = 0; bytes != nullptr && i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string Field(const char* key, const std::string& value) {
    return std::string("\t") + key + "=" + value;
}
std::string Field(const char* key, unsigned long long value) {
    return Field(key, std::to_string(value));
}

// One allocation per resolved name, freed by MAPIFreeBuffer.
struct ResolvedEntry {
    MapiRecipDesc desc{};
    std::string name;
    std::string address;
    std::string entryId;
};
std::map<void*, ResolvedEntry*> liveEntries;

} // namespace

extern "C" {

ULONG WINAPI MAPILogon(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, FLAGS flFlags,
                       ULONG /*ulReserved*/, LPLHANDLE lplhSession) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (Environment("LUMETRA_MAPI_FAIL") == "logon") {
        WriteRecord("LOGON" + Field("ui", ulUIParam) + Field("profile", Quoted(lpszProfileName)) +
                    Field("password", Quoted(lpszPassword)) + Field("flags", flFlags) +
                    Field("session", 0ull));
        return MAPI_E_LOGIN_FAILURE;
    }
    const LHANDLE session = nextSession++;
    *lplhSession = session;
    WriteRecord("LOGON" + Field("ui", ulUIParam) + Field("profile", Quoted(lpszProfileName)) +
                Field("password", Quoted(lpszPassword)) + Field("flags", flFlags) +
                Field("session", session));
    return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPILogoff(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags, ULONG /*ulReserved*/) {
    std::lock_guard<std::mutex> lock(logMutex);
    WriteRecord("LOGOFF" + Field("session", lhSession) + Field("ui", ulUIParam) + Field("flags", flFlags));
    return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIResolveName(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName, FLAGS flFlags,
                             ULONG /*ulReserved*/, lpMapiRecipDesc* lppRecip) {
    std::lock_guard<std::mutex> lock(logMutex);
    const bool resolves = lpszName != nullptr && std::string(lpszName).find('@') != std::string::npos;
    const ULONG result = resolves ? SUCCESS_SUCCESS : MAPI_E_UNKNOWN_RECIPIENT;
    WriteRecord("RESOLVE" + Field("session", lhSession) + Field("ui", ulUIParam) +
                Field("name", Quoted(lpszName)) + Field("flags", flFlags) + Field("result", result));
    if (!resolves)
        return result;
    auto* entry = new ResolvedEntry;
    entry->name = lpszName;
    entry->address = "SMTP:" + entry->name;
    entry->entryId = "EID:" + entry->name;
    entry->desc.ulRecipClass = MAPI_TO;
    entry->desc.lpszName = entry->name.data();
    entry->desc.lpszAddress = entry->address.data();
    entry->desc.ulEIDSize = static_cast<ULONG>(entry->entryId.size());
    entry->desc.lpEntryID = entry->entryId.data();
    liveEntries[&entry->desc] = entry;
    *lppRecip = &entry->desc;
    return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID pv) {
    std::lock_guard<std::mutex> lock(logMutex);
    const auto found = liveEntries.find(pv);
    const bool known = found != liveEntries.end();
    WriteRecord("FREE" + Field("known", known ? 1ull : 0ull));
    if (known) {
        delete found->second;
        liveEntries.erase(found);
    }
    return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPISendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags,
                          ULONG ulReserved) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (lpMessage == nullptr)
        return MAPI_E_FAILURE;
    const MapiMessage& m = *lpMessage;
    std::string record = "SEND" + Field("session", lhSession) + Field("ui", ulUIParam) +
                         Field("flags", flFlags) + Field("reserved", ulReserved) +
                         Field("msgreserved", m.ulReserved) + Field("subject", Quoted(m.lpszSubject)) +
                         Field("note", Quoted(m.lpszNoteText)) + Field("type", Quoted(m.lpszMessageType)) +
                         Field("date", Quoted(m.lpszDateReceived)) +
                         Field("conversation", Quoted(m.lpszConversationID)) + Field("msgflags", m.flFlags) +
                         Field("originator", m.lpOriginator ? "set" : "null") +
                         Field("recips", m.nRecipCount) + Field("files", m.nFileCount);
    for (ULONG i = 0; i < m.nRecipCount; ++i) {
        const MapiRecipDesc& r = m.lpRecips[i];
        record += "\nRECIP" + Field("reserved", r.ulReserved) + Field("class", r.ulRecipClass) +
                  Field("name", Quoted(r.lpszName)) + Field("address", Quoted(r.lpszAddress)) +
                  Field("eid", Hex(r.lpEntryID, r.ulEIDSize));
    }
    for (ULONG i = 0; i < m.nFileCount; ++i) {
        const MapiFileDesc& f = m.lpFiles[i];
        record += "\nFILE" + Field("reserved", f.ulReserved) + Field("flags", f.flFlags) +
                  Field("position", f.nPosition) + Field("path", Quoted(f.lpszPathName)) +
                  Field("name", Quoted(f.lpszFileName)) + Field("type", f.lpFileType ? "set" : "null");
    }
    WriteRecord(record);
    return Environment("LUMETRA_MAPI_FAIL") == "send" ? MAPI_E_FAILURE : SUCCESS_SUCCESS;
}

// Tells a program that the MAPI32.DLL it loaded is this recorder, not a real mail client.
ULONG WINAPI LumetraRecordingProvider() {
    return 1;
}

} // extern "C"
