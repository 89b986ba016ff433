// Stands in for the HTTP service: copies the shared block "lumetramem" into the file named by its
// argument. Exit code 0 when copied, 2 when no such block exists, 3 on any other failure.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 3;
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, "lumetramem");
    if (mapping == nullptr)
        return 2;
    const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8192);
    int result = 3;
    if (view != nullptr) {
        if (FILE* out = std::fopen(argv[1], "wb")) {
            if (std::fwrite(view, 1, 8192, out) == 8192)
                result = 0;
            std::fclose(out);
        }
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
    return result;
}
