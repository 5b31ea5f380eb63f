// Binding the echo slots to small libraries built for these tests.
#include "echo_service.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kLibraries = ECHO_TEST_LIBRARY_DIR;

UINT CopyFolder(const std::string &folder, LPSTR buffer, UINT size) {
    if (folder.size() >= size) return static_cast<UINT>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

UINT LibraryFolder(LPSTR buffer, UINT size) { return CopyFolder(kLibraries, buffer, size); }
UINT UnknownFolder(LPSTR, UINT) { return 0; }
UINT FolderTooLongForTheBuffer(LPSTR, UINT size) { return size + 40; }
// Fits the buffer, but no library name fits after it.
UINT FolderLeavingNoRoom(LPSTR buffer, UINT size) {
    return CopyFolder(kLibraries + std::string(size - 1 - kLibraries.size(), '/'), buffer, size);
}

void ResetSlots() {
    pIcmpCreateFile = LazyIcmpCreateFile;
    pIcmpSendEcho = IcmpSendEchoFallback;
    pIcmpCloseHandle = IcmpCloseHandleFallback;
}

bool SlotsAreInitial() {
    return pIcmpCreateFile == LazyIcmpCreateFile && pIcmpSendEcho == IcmpSendEchoFallback &&
           pIcmpCloseHandle == IcmpCloseHandleFallback;
}

bool IsLoaded(const std::string &name) {
    void *library = dlopen((kLibraries + "/" + name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return false;
    dlclose(library);
    return true;
}

// Which test library the slots were bound to: its marker, or 0 for none.
uintptr_t BoundMarker() {
    if (SlotsAreInitial()) return 0;
    return reinterpret_cast<uintptr_t>(pIcmpCreateFile());
}

struct BindCase {
    const char *name;
    SystemDirectoryQuery folder;
    std::vector<const char *> libraries;
    uintptr_t marker;  // 0: nothing may be bound
};

const BindCase kCases[] = {
    {"the first library has all three", LibraryFolder, {"complete-one.so", "complete-two.so"}, 1},
    {"the first lacks one, the second is bound", LibraryFolder, {"lacks-close.so", "complete-two.so"}, 2},
    {"a file that is no library", LibraryFolder, {"not-a-library.so", "complete-two.so"}, 2},
    {"a library that is not there", LibraryFolder, {"missing.so", "complete-two.so"}, 2},
    {"both fail", LibraryFolder, {"lacks-close.so", "not-a-library.so"}, 0},
    {"an unknown system directory means the current one", UnknownFolder, {"complete-two.so"}, 2},
    {"a system directory too long for its buffer", FolderTooLongForTheBuffer, {"complete-one.so"}, 0},
    {"a path too long for its buffer", FolderLeavingNoRoom, {"complete-one.so"}, 0},
};

TEST(EchoBinding, BindsTheFirstLibraryWithAllThreeFunctions) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(kLibraries.c_str()), 0);
    for (const BindCase &c : kCases) {
        SCOPED_TRACE(c.name);
        ResetSlots();
        SetLastError(0);
        bool bound = BindIcmpFunctionsFrom(c.folder, c.libraries.data(), c.libraries.size());
        EXPECT_EQ(bound, c.marker != 0);
        EXPECT_EQ(BoundMarker(), c.marker);
        if (c.marker == 0) {
            EXPECT_EQ(GetLastError(), 120u);
        }
        EXPECT_FALSE(IsLoaded("lacks-close.so"));
    }
    ASSERT_EQ(chdir(previous), 0);
}

TEST(EchoBinding, BoundSlotsAreTheLibrarysOwnFunctions) {
    ResetSlots();
    const char *names[] = {"complete-one.so"};
    ASSERT_TRUE(BindIcmpFunctionsFrom(LibraryFolder, names, 1));
    void *library = dlopen((kLibraries + "/complete-one.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(pIcmpCreateFile), dlsym(library, "IcmpCreateFile"));
    EXPECT_EQ(reinterpret_cast<void *>(pIcmpSendEcho), dlsym(library, "IcmpSendEcho"));
    EXPECT_EQ(reinterpret_cast<void *>(pIcmpCloseHandle), dlsym(library, "IcmpCloseHandle"));
    EXPECT_EQ(pIcmpSendEcho(nullptr, 0, nullptr, 0, nullptr, nullptr, 0, 0), 10u);
    EXPECT_EQ(pIcmpCloseHandle(nullptr), 100);
    dlclose(library);
}

TEST(EchoBinding, SendAndCloseFailBeforeTheFirstCreate) {
    ResetSlots();
    SetLastError(0);
    EchoReplyBuffer buffer = {};
    EXPECT_EQ(pIcmpSendEcho(nullptr, inet_addr("127.0.0.1"), buffer.data, 32, nullptr, &buffer,
                            sizeof buffer, 1000),
              0u);
    EXPECT_EQ(GetLastError(), 120u);
    SetLastError(0);
    EXPECT_EQ(pIcmpCloseHandle(nullptr), FALSE);
    EXPECT_EQ(GetLastError(), 120u);
    EXPECT_TRUE(SlotsAreInitial());
}

TEST(EchoBinding, CreateWithoutAnyLibraryFailsWithError120) {
    // This test program's own library folder (tests/lib/vesperix in the build
    // tree) holds no echo provider.
    ResetSlots();
    SetLastError(0);
    EXPECT_EQ(pIcmpCreateFile(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 120u);
    EXPECT_TRUE(SlotsAreInitial());
}

}  // namespace
