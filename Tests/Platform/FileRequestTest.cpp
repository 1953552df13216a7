// Read requests through the file thread's pass: whole-file reads, caller buffers, the statuses a read
// can end with, the full table, registered buffers, folder listings against Python's os.scandir, and
// resource reads served from the resource table.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <atomic>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Platform/FileSystem.h"
#include "Platform/FileTestSupport.h"

extern const EmbeddedResourceTable kTestResourceTable;

namespace {

using FileRequests = FileThreadFixture;

u64 modifiedMsOfFile(const std::string& path) {
    struct stat info;
    stat(path.c_str(), &info);
    return (u64)((i64)info.st_mtim.tv_sec * 1000 + info.st_mtim.tv_nsec / 1000000 + kUnixEpochIn1601Milliseconds);
}

TEST_F(FileRequests, RelativeAndAbsoluteReads) {
    writeDataFile("Missions/a.csv", "lat,lng\n1,2\n");
    FileReadRequest* request = requestFile(makeString("Missions/a.csv"), 1000, 0, &platform->fileReads);
    EXPECT_EQ(request, &platform->fileReads.slots[0]);
    EXPECT_STREQ(request->name.text, "a.csv");
    EXPECT_EQ(fileRequestStatus(request), FileStatusNotYetProcessed);
    pass();
    ASSERT_EQ(fileRequestStatus(request), FileStatusSuccess);
    EXPECT_EQ(bytesOf(request->data, request->bytesRead), "lat,lng\n1,2\n");
    EXPECT_EQ(request->fileSize, 12u);
    EXPECT_EQ(request->modifiedMs, modifiedMsOfFile(dataFolder + "Missions/a.csv"));
    EXPECT_STREQ(request->statusText.text, "a.csv does not end with .pdf");
    EXPECT_EQ(request->pdfDocumentNumber, 0u);

    // Backslashes separate too; an absolute path is read where it is.
    writeFile(home + "/maps/b.png", "png bytes");
    FileReadRequest* absolute = requestFile(makeString((home + "/maps/b.png").c_str()), 1000, 0, &platform->fileReads);
    FileReadRequest* backslashed = requestFile(makeString("Missions\\a.csv"), 1000, 0, &platform->fileReads);
    EXPECT_STREQ(backslashed->name.text, "a.csv");
    pass();
    ASSERT_EQ(fileRequestStatus(absolute), FileStatusSuccess);
    EXPECT_EQ(bytesOf(absolute->data, absolute->bytesRead), "png bytes");
    EXPECT_STREQ(absolute->name.text, "b.png");
    ASSERT_EQ(fileRequestStatus(backslashed), FileStatusSuccess);

    releaseFileReadRequest(request, &platform->fileReads);
    releaseFileReadRequest(absolute, &platform->fileReads);
    releaseFileReadRequest(backslashed, &platform->fileReads);
    EXPECT_EQ(platform->fileReads.used[0], 0u);
}

TEST_F(FileRequests, HeadroomAndSizeLimits) {
    std::string hundred(100, 'x');
    for (int i = 0; i < 100; i++) hundred[i] = (char)('A' + i % 26);
    writeDataFile("h.txt", hundred);

    FileReadRequest* withRoom = requestFile(makeString("h.txt"), 100, 18, &platform->fileReads);
    FileReadRequest* tooSmall = requestFile(makeString("h.txt"), 99, 0, &platform->fileReads);
    pass();
    ASSERT_EQ(fileRequestStatus(withRoom), FileStatusSuccess);
    EXPECT_EQ(withRoom->bytesRead, 100u);
    EXPECT_EQ(bytesOf(withRoom->data + 18, 100), hundred);
    EXPECT_EQ(fileRequestStatus(tooSmall), FileStatusTooLarge);
    EXPECT_STREQ(tooSmall->statusText.text, "File is larger than allowed");
    EXPECT_EQ(tooSmall->fileSize, 100u);
    EXPECT_EQ(tooSmall->data, nullptr);
    releaseFileReadRequest(withRoom, &platform->fileReads);
    releaseFileReadRequest(tooSmall, &platform->fileReads);

    // Into the caller's buffer: exactly its capacity fits, one byte less is refused untouched.
    std::vector<u8> exact(100), shortBuffer(99, 0xEE);
    FileReadRequest* into = requestFileIntoBuffer(makeString("h.txt"), exact.data(), exact.size(), &platform->fileReads);
    FileReadRequest* over =
        requestFileIntoBuffer(makeString("h.txt"), shortBuffer.data(), shortBuffer.size(), &platform->fileReads);
    pass();
    ASSERT_EQ(fileRequestStatus(into), FileStatusSuccess);
    EXPECT_EQ(into->data, exact.data());
    EXPECT_EQ(bytesOf(exact.data(), 100), hundred);
    EXPECT_EQ(fileRequestStatus(over), FileStatusTooLarge);
    EXPECT_EQ(shortBuffer, std::vector<u8>(99, 0xEE));
    releaseFileReadRequest(into, &platform->fileReads);
    releaseFileReadRequest(over, &platform->fileReads);
}

TEST_F(FileRequests, FailureStatusesCarryTheirTexts) {
    writeDataFile("Folder/inside.txt", "x");
    struct Case {
        std::string path;
        u32 status;
    };
    std::vector<Case> cases = {
        {"missing.txt", FileStatusNotFound},
        {"Nowhere/missing.txt", FileStatusNotFound},
        {"Folder/inside.txt/deeper", FileStatusNotFound},
        {"Folder", FileStatusAccessDenied},
        {"../escape.txt", FileStatusBadPathSyntax},
        {"Folder/../../escape.txt", FileStatusBadPathSyntax},
        {"Folder\\..\\..\\escape.txt", FileStatusBadPathSyntax},
        {std::string(240, 'n'), FileStatusBadPathSyntax},
    };
    std::vector<FileReadRequest*> requests;
    for (const Case& c : cases) requests.push_back(requestFile(makeString(c.path.c_str()), 1000, 0, &platform->fileReads));
    pass();
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(fileRequestStatus(requests[i]), cases[i].status);
        EXPECT_STREQ(requests[i]->statusText.text, fileStatusString(cases[i].status).text);
        EXPECT_EQ(requests[i]->data, nullptr);
        releaseFileReadRequest(requests[i], &platform->fileReads);
    }

    if (geteuid() != 0) {
        writeDataFile("locked.txt", "secret");
        chmod((dataFolder + "locked.txt").c_str(), 0);
        FileReadRequest* locked = requestFile(makeString("locked.txt"), 1000, 0, &platform->fileReads);
        pass();
        EXPECT_EQ(fileRequestStatus(locked), FileStatusAccessDenied);
        releaseFileReadRequest(locked, &platform->fileReads);
    }

    // Without a Documents folder nothing below it is read; absolute paths still are.
    std::filesystem::remove_all(home + "/Documents");
    writeFile(home + "/outside.txt", "abc");
    FileReadRequest* relative = requestFile(makeString("missing.txt"), 1000, 0, &platform->fileReads);
    FileReadRequest* listing = requestFolderListing(makeString(""), &platform->fileReads);
    FileReadRequest* absolute = requestFile(makeString((home + "/outside.txt").c_str()), 1000, 0, &platform->fileReads);
    pass();
    EXPECT_EQ(fileRequestStatus(relative), FileStatusNoDocumentsFolder);
    EXPECT_STREQ(relative->statusText.text, "Documents directory doesn't exist");
    EXPECT_EQ(fileRequestStatus(listing), FileStatusNoDocumentsFolder);
    EXPECT_EQ(fileRequestStatus(absolute), FileStatusSuccess);
    releaseFileReadRequest(relative, &platform->fileReads);
    releaseFileReadRequest(listing, &platform->fileReads);
    releaseFileReadRequest(absolute, &platform->fileReads);

    platform->dataFolder = FixedString{};
    FileReadRequest* noFolder = requestFile(makeString("a.txt"), 1000, 0, &platform->fileReads);
    pass();
    EXPECT_EQ(fileRequestStatus(noFolder), FileStatusNoDocumentsFolder);
    releaseFileReadRequest(noFolder, &platform->fileReads);
}

TEST_F(FileRequests, FullTableHandsOutTheFullSlot) {
    FileReadTable* table = &platform->fileReads;
    for (u32 i = 0; i < kFileTableSlots; i++) {
        ASSERT_EQ(requestFile(makeString("a.txt"), 10, 0, table), &table->slots[i]);
    }
    for (u32 w = 0; w < kFileTableWords; w++) EXPECT_EQ(table->used[w], ~u64(0));
    FixedString slotZeroPath = table->slots[0].path;

    FileReadRequest* full = requestFile(makeString("b.txt"), 10, 0, table);
    EXPECT_EQ(full, &table->fullTableSlot);
    EXPECT_EQ(fileRequestStatus(full), FileStatusTooManyOpenFiles);
    EXPECT_STREQ(fileStatusString(full->status).text, "Too many open files");
    EXPECT_EQ(requestFolderListing(makeString(""), table), full);
    releaseFileReadRequest(full, table);
    for (u32 w = 0; w < kFileTableWords; w++) EXPECT_EQ(table->used[w], ~u64(0));
    EXPECT_TRUE(equals(table->slots[0].path, slotZeroPath));

    // A registered buffer that finds no slot is freed when it was handed over.
    u8* handed = allocateFileBuffer(64);
    EXPECT_EQ(fileRequestFromBuffer(handed, 64, 1, makeString("x.zip"), 5, table), full);

    // Freeing one slot makes it the next one taken, once the file thread has let go of it.
    releaseFileReadRequest(&table->slots[700], table);
    pass();
    EXPECT_EQ(requestFile(makeString("c.txt"), 10, 0, table), &table->slots[700]);
}

TEST_F(FileRequests, RegisteredBufferIsAFinishedRead) {
    u8* bytes = allocateFileBuffer(3);
    std::memcpy(bytes, "zip", 3);
    FileReadRequest* request =
        fileRequestFromBuffer(bytes, 3, 1, makeString("Elevation Maps/tile.zip"), 1234, &platform->fileReads);
    EXPECT_EQ(fileRequestStatus(request), FileStatusSuccess);
    EXPECT_STREQ(request->name.text, "tile.zip");
    EXPECT_EQ(request->bytesRead, 3u);
    EXPECT_EQ(request->maxSize, 3u);
    EXPECT_EQ(request->modifiedMs, 1234u);
    pass();  // the file thread leaves it alone
    EXPECT_EQ(request->data, bytes);
    releaseFileReadRequest(request, &platform->fileReads);  // frees the bytes

    u8 callers[4] = {1, 2, 3, 4};
    FileReadRequest* borrowed = fileRequestFromBuffer(callers, 4, 0, makeString("b"), 0, &platform->fileReads);
    releaseFileReadRequest(borrowed, &platform->fileReads);
    EXPECT_EQ(callers[3], 4);
}

// One line per entry as Python's os.scandir gives it: name, folder, file, size, 100-ns ticks.
std::vector<std::string> scandirLines(const std::string& folder) {
    std::string command = "/usr/bin/python3 -c \"import os,sys\n"
                          "for e in os.scandir(sys.argv[1]):\n"
                          "    st = e.stat()\n"
                          "    d = e.is_dir()\n"
                          "    print(e.name, int(d), int(e.is_file()), 0 if d else st.st_size,"
                          " 0 if d else (st.st_mtime_ns // 100 + 116444736000000000), sep='|')\" '" +
                          folder + "'";
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    char line[1024];
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        lines.push_back(text);
    }
    pclose(pipe);
    return lines;
}

TEST_F(FileRequests, ListingMatchesPythonScandir) {
    writeDataFile("Overlays/fields.kmzbin", std::string(1234, 'k'));
    writeDataFile("Overlays/map two.pdfbin", "pdf");
    writeDataFile("Overlays/\xC3\xA4rea.kmlbin", "");
    writeDataFile("Overlays/Old/x.txt", "x");

    FileReadRequest* request = requestFolderListing(makeString("Overlays"), &platform->fileReads);
    EXPECT_EQ(request->name.length, 0);
    pass();
    ASSERT_EQ(fileRequestStatus(request), FileStatusSuccess);
    EXPECT_EQ(std::string(request->name.text), dataFolder + "Overlays/");
    EXPECT_EQ(request->statusText.length, 0);
    // Four entries and the folder's own "." and "..".
    ASSERT_EQ(request->fileSize, 6u * sizeof(FolderEntry));
    EXPECT_EQ(request->bytesRead, request->fileSize);

    const FolderEntry* entries = (const FolderEntry*)request->data;
    std::vector<std::string> ours;
    u32 dots = 0;
    for (u64 i = 0; i < request->fileSize / sizeof(FolderEntry); i++) {
        const FolderEntry& e = entries[i];
        std::string name = e.name.text;
        if (name == "." || name == "..") {
            EXPECT_EQ(e.isFolder, 1u);
            dots++;
            continue;
        }
        std::ostringstream line;
        line << name << '|' << e.isFolder << '|' << e.isFile << '|' << e.size << '|' << e.modified;
        ours.push_back(line.str());
    }
    EXPECT_EQ(dots, 2u);
    EXPECT_EQ(ours, scandirLines(dataFolder + "Overlays"));
    releaseFileReadRequest(request, &platform->fileReads);

    // The data folder itself, a missing folder, a path out of the data folder.
    FileReadRequest* root = requestFolderListing(makeString(""), &platform->fileReads);
    FileReadRequest* missing = requestFolderListing(makeString("Nothing/Here"), &platform->fileReads);
    FileReadRequest* escape = requestFolderListing(makeString("Overlays/../.."), &platform->fileReads);
    pass();
    ASSERT_EQ(fileRequestStatus(root), FileStatusSuccess);
    EXPECT_EQ(std::string(root->name.text), dataFolder);
    EXPECT_EQ(root->fileSize, 3u * sizeof(FolderEntry));
    EXPECT_EQ(fileRequestStatus(missing), FileStatusNotFound);
    EXPECT_EQ(fileRequestStatus(escape), FileStatusBadPathSyntax);
    releaseFileReadRequest(root, &platform->fileReads);
    releaseFileReadRequest(missing, &platform->fileReads);
    releaseFileReadRequest(escape, &platform->fileReads);
}

TEST_F(FileRequests, ResourceTableIsServedFromEmbeddedResources) {
    state.resources = &kTestResourceTable;
    FileReadTable* table = &platform->resourceReads;
    // The asset joiner's reads: the parts of one asset into one buffer.
    std::vector<u8> joined(2500);
    FileReadRequest* parts[3];
    u64 offset = 0;
    for (i64 part = 0; part < 3; part++) {
        u64 size = part < 2 ? 1000 : 500;
        parts[part] = requestFileIntoBuffer(formatInt("AppOrvik/Assets/atlas.bin.part_@", part), joined.data() + offset,
                                            size, table);
        offset += size;
    }
    FileReadRequest* logo = requestFile(makeString("AppOrvik/Assets/logo.png"), 1000, 4, table);
    FileReadRequest* missing = requestFile(makeString("AppOrvik/Assets/none.png"), 1000, 0, table);
    pass();
    for (FileReadRequest* part : parts) EXPECT_EQ(fileRequestStatus(part), FileStatusSuccess);
    std::string expected;
    for (int i = 0; i < 2500; i++) expected.push_back((char)((i * 7 + 3) % 256));
    EXPECT_EQ(bytesOf(joined.data(), joined.size()), expected);
    ASSERT_EQ(fileRequestStatus(logo), FileStatusSuccess);
    EXPECT_EQ(bytesOf(logo->data + 4, logo->bytesRead), "PNG stand-in for the lookup test\n");
    EXPECT_EQ(logo->statusText.length, 0);
    EXPECT_EQ(fileRequestStatus(missing), FileStatusNotFound);
    for (FileReadRequest* part : parts) releaseFileReadRequest(part, table);
    releaseFileReadRequest(logo, table);
    releaseFileReadRequest(missing, table);
}

TEST(FileTexts, StatusTextsAndPathHelpers) {
    EXPECT_STREQ(fileStatusString(0).text, "Not yet processed");
    EXPECT_STREQ(fileStatusString(10).text, "File path syntax is incorrect");
    EXPECT_STREQ(fileStatusString(21).text, "Failed to get result from file picker");
    EXPECT_STREQ(fileStatusString(22).text, "Code 22");
    EXPECT_STREQ(fileStatusString(4000000000u).text, "Code 4000000000");
    EXPECT_STREQ(toWindowsPath(makeString("Tile Maps/3/4/5.png")).text, "Tile Maps\\3\\4\\5.png");
    EXPECT_STREQ(fileNameOfPath(makeString("a/b\\c.txt")).text, "c.txt");
    EXPECT_STREQ(fileNameOfPath(makeString("plain")).text, "plain");
    EXPECT_STREQ(fileNameOfPath(makeString("dir/")).text, "");

    u16 units[8];
    EXPECT_EQ(utf8ToUtf16(makeString("a\xF0\x9F\x98\x80z"), units, 8), 4u);
    EXPECT_EQ(units[1], 0xD83D);
    EXPECT_EQ(units[2], 0xDE00);
    EXPECT_EQ(units[3], 'z');
    EXPECT_EQ(units[4], 0);
    // One unit of room left: the pair and everything after it are dropped.
    EXPECT_EQ(utf8ToUtf16(makeString("ab\xF0\x9F\x98\x80z"), units, 4), 2u);
    EXPECT_EQ(units[2], 0);
    // Malformed bytes and encoded surrogates are skipped; a cut sequence ends the text.
    EXPECT_EQ(utf8ToUtf16(makeString("a\xFF" "b\xED\xA0\x80" "c\xE2\x82"), units, 8), 3u);
    EXPECT_EQ(units[2], 'c');

    EXPECT_EQ(isPathInsideDataFolder(makeString("a/..b/c..")), 1u);
    EXPECT_EQ(isPathInsideDataFolder(makeString("a/../b")), 0u);
    EXPECT_EQ(isPathInsideDataFolder(makeString("..")), 0u);
    EXPECT_EQ(isPathInsideDataFolder(makeString("/abs")), 0u);
    EXPECT_STREQ(documentsFolderOf(makeString("/home/a/Documents/Tarnwick/")).text, "/home/a/Documents");
}

}  // namespace

namespace {

// The real thread: requests made and polled from this thread while it runs its passes.
TEST_F(FileRequests, ThreadServesRequestsUntilTheRunningFlagClears) {
    for (int i = 0; i < 50; i++) writeDataFile("Tile Maps/" + std::to_string(i) + ".png", "tile " + std::to_string(i));
    u32 running = 1;
    std::thread worker([this, &running] { runFileThread(platform, &running); });
    std::vector<FileReadRequest*> reads;
    std::vector<FileJobResult> jobs(50);
    for (int i = 0; i < 50; i++) {
        reads.push_back(requestFile(makeString(("Tile Maps/" + std::to_string(i) + ".png").c_str()), 100, 0,
                                    &platform->fileReads));
        std::string text = "entry " + std::to_string(i) + "\n";
        u8* data = allocateFileBuffer(text.size());
        std::memcpy(data, text.data(), text.size());
        enqueueFileJob(makeString("Flight Logs/thread.txt"), "text/plain", data, (u32)text.size(), 1, FileJobAppend,
                       &platform->fileJobs, &jobs[i]);
    }
    for (int wait = 0; wait < 20000; wait++) {
        bool finished = fileJobStatus(&jobs.back()) >= FileStatusSuccess;
        for (FileReadRequest* read : reads) finished = finished && fileRequestStatus(read) >= FileStatusSuccess;
        if (finished) break;
        usleep(1000);
    }
    std::atomic_ref<u32>(running).store(0, std::memory_order_release);
    worker.join();
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(fileRequestStatus(reads[i]), FileStatusSuccess);
        EXPECT_EQ(bytesOf(reads[i]->data, reads[i]->bytesRead), "tile " + std::to_string(i));
        releaseFileReadRequest(reads[i], &platform->fileReads);
        EXPECT_EQ(fileJobStatus(&jobs[i]), FileStatusSuccess);
    }
    std::string expected;
    for (int i = 0; i < 50; i++) expected += "entry " + std::to_string(i) + "\n";
    EXPECT_EQ(readWholeFile(dataFolder + "Flight Logs/thread.txt"), expected);
}

}  // namespace

namespace {

// The file thread blocks opening a FIFO until this side opens it for writing: a read that is
// deterministically still being served when its requester releases it.
TEST_F(FileRequests, ReleaseDuringASlowReadCancelsItAndTheThreadFreesWhatItMade) {
    std::filesystem::create_directories(dataFolder);
    std::string fifo = dataFolder + "slow.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    u32 running = 1;
    std::thread worker([this, &running] { runFileThread(platform, &running); });
    FileReadRequest* slow = requestFile(makeString("slow.fifo"), 1000, 16, &platform->fileReads);
    while (fileRequestStatus(slow) != FileStatusProcessing) std::this_thread::yield();

    // A job queued behind the blocked read, whose requester goes away before it runs.
    FileJobResult* gone = new FileJobResult{};
    enqueueFileJob(makeString("after.txt"), "text/plain", nullptr, 0, 0, FileJobWrite, &platform->fileJobs, gone);
    releaseFileJob(gone, &platform->fileJobs);
    delete gone;

    releaseFileReadRequest(slow, &platform->fileReads);
    // The slot stays with the file thread: a new request must not be handed the slot it is filling.
    FileReadRequest* other = requestFile(makeString("other.txt"), 1000, 0, &platform->fileReads);
    EXPECT_NE(other, slow);

    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    close(writer);
    u32 slowIndex = (u32)(slow - platform->fileReads.slots);
    while (isSlotUsed(platform->fileReads.used, slowIndex)) std::this_thread::yield();
    while (fileRequestStatus(other) < FileStatusSuccess) std::this_thread::yield();
    EXPECT_EQ(fileRequestStatus(other), FileStatusNotFound);
    releaseFileReadRequest(other, &platform->fileReads);
    std::atomic_ref<u32>(running).store(0, std::memory_order_release);
    worker.join();
    // The buffer the thread allocated for the cancelled read was freed: the leak check at exit
    // holds it to that.
}

TEST_F(FileRequests, ReleasingARequestTwiceIsCaught) {
    writeDataFile("a.txt", "a");
    FileReadRequest* request = requestFile(makeString("a.txt"), 100, 0, &platform->fileReads);
    pass();
    releaseFileReadRequest(request, &platform->fileReads);
    EXPECT_DEBUG_DEATH(releaseFileReadRequest(request, &platform->fileReads), "released twice");
}

}  // namespace
