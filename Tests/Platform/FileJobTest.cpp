// File jobs through the file thread's pass: folders made on write, per-path order, whole-file writes
// that never leave a half-written file, short writes (an append cut back whole), deletes, moves, refused
// paths and full tables.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>

#include "Core/Format.h"
#include "Platform/FileSystem.h"
#include "Platform/FileTestSupport.h"

namespace {

using FileJobs = FileThreadFixture;

u8* bufferWith(const std::string& text) {
    u8* data = allocateFileBuffer(text.size());
    std::memcpy(data, text.data(), text.size());
    return data;
}

bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

TEST_F(FileJobs, WriteCreatesMissingFolders) {
    ASSERT_FALSE(exists(dataFolder));
    FileJobResult result{};
    std::string text = "hello, disk";
    enqueueFileJob(makeString("A/B/c.txt"), "text/plain", bufferWith(text), (u32)text.size(), 1, FileJobWrite,
                   &platform->fileJobs, &result);
    EXPECT_EQ(result.status, FileStatusNotYetProcessed);
    EXPECT_EQ(result.size, text.size());
    EXPECT_EQ(platform->fileJobs.slots[0].id, 0u);
    EXPECT_EQ(platform->fileJobs.nextId, 1u);
    pass();
    EXPECT_EQ(fileJobStatus(&result), FileStatusSuccess);
    EXPECT_EQ(result.written, text.size());
    EXPECT_EQ(platform->fileJobs.slots[0].own.status, FileStatusSuccess);
    EXPECT_EQ(readWholeFile(dataFolder + "A/B/c.txt"), text);
    // Only the file itself is left behind.
    u32 count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dataFolder + "A/B")) count += entry.exists();
    EXPECT_EQ(count, 1u);

    // Appends add to the end and create a missing file; a mode beyond move appends too.
    enqueueFileJob(makeString("Flight Logs/log.qvlog3"), "application/binary", bufferWith("ab"), 2, 1, FileJobAppend,
                   &platform->fileJobs, nullptr);
    enqueueFileJob(makeString("Flight Logs/log.qvlog3"), "application/binary", bufferWith("cd"), 2, 1, 7,
                   &platform->fileJobs, nullptr);
    pass();
    EXPECT_EQ(readWholeFile(dataFolder + "Flight Logs/log.qvlog3"), "abcd");
}

TEST_F(FileJobs, JobsOnOnePathRunInQueueOrder) {
    FileJobTable* table = &platform->fileJobs;
    // Fill all but the last slot with finished jobs (deletes of missing files).
    for (u32 i = 0; i + 1 < kFileTableSlots; i++) {
        enqueueFileJob(formatInt("fill/@", i), "text/plain", nullptr, 0, 0, FileJobWrite, table, nullptr);
    }
    pass();
    EXPECT_EQ(table->slots[5].own.status, FileStatusNotFound);

    FileJobResult write{}, append{};
    enqueueFileJob(makeString("Debug/report.txt"), "text/plain", bufferWith("first "), 6, 1, FileJobWrite, table, &write);
    EXPECT_TRUE(isSlotUsed(table->used, kFileTableSlots - 1));
    // The table is full: the next job reclaims every finished slot and takes slot 0, below the write.
    enqueueFileJob(makeString("Debug/report.txt"), "text/plain", bufferWith("second"), 6, 1, FileJobAppend, table,
                   &append);
    EXPECT_EQ(table->slots[0].own.size, 6u);
    EXPECT_EQ(table->slots[0].mode, (u32)FileJobAppend);
    EXPECT_FALSE(isSlotUsed(table->used, 1));
    EXPECT_EQ(table->slots[0].id, (u64)kFileTableSlots);

    pass();  // the append waits for the earlier write on its path
    EXPECT_EQ(fileJobStatus(&write), FileStatusSuccess);
    EXPECT_EQ(fileJobStatus(&append), FileStatusNotYetProcessed);
    EXPECT_EQ(readWholeFile(dataFolder + "Debug/report.txt"), "first ");
    pass();
    EXPECT_EQ(fileJobStatus(&append), FileStatusSuccess);
    EXPECT_EQ(readWholeFile(dataFolder + "Debug/report.txt"), "first second");
}

TEST_F(FileJobs, InterruptedWriteLeavesTheOldFileWhole) {
    writeDataFile("Preferences.txt", "Units: Metric (m/s)\n");
    FixedString fullPath = makeString((dataFolder + "Preferences.txt").c_str());
    // The save stops after its temporary file, before the rename, as a crash would stop it.
    FixedString temporary{};
    u32 written = 0;
    EXPECT_EQ(writeTemporaryBeside(fullPath, (const u8*)"Units: Nau", 10, &written, &temporary), FileStatusSuccess);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(readWholeFile(dataFolder + "Preferences.txt"), "Units: Metric (m/s)\n");
    EXPECT_EQ(std::string(temporary.text).rfind(dataFolder, 0), 0u);  // beside the file

    // The next save replaces the old file whole and leaves no temporary file.
    std::string next = "Units: Nautical (kn)\n";
    FileJobResult result{};
    enqueueFileJob(makeString("Preferences.txt"), "text/plain", bufferWith(next), (u32)next.size(), 1, FileJobWrite,
                   &platform->fileJobs, &result);
    pass();
    EXPECT_EQ(fileJobStatus(&result), FileStatusSuccess);
    EXPECT_EQ(readWholeFile(dataFolder + "Preferences.txt"), next);
    EXPECT_FALSE(exists(temporary.text));
}

TEST_F(FileJobs, ShortWriteIsWriteFailedAndKeepsTheOldFile) {
    writeDataFile("OrvikAppCache.bin", "old cache");
    std::string big(20000, 'c');
    FileJobResult write{}, append{};
    enqueueFileJob(makeString("OrvikAppCache.bin"), "application/binary", bufferWith(big), (u32)big.size(), 1,
                   FileJobWrite, &platform->fileJobs, &write);
    enqueueFileJob(makeString("log.bin"), "application/binary", bufferWith(big), (u32)big.size(), 1, FileJobAppend,
                   &platform->fileJobs, &append);
    // A file-size limit makes the system stop the writes part way.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limit = saved;
    limit.rlim_cur = 4096;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    pass();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    EXPECT_EQ(fileJobStatus(&write), FileStatusWriteFailed);
    EXPECT_EQ(write.written, 4096u);
    EXPECT_EQ(readWholeFile(dataFolder + "OrvikAppCache.bin"), "old cache");
    EXPECT_EQ(fileJobStatus(&append), FileStatusWriteFailed);
    EXPECT_EQ(append.written, 4096u);
    EXPECT_EQ(append.reason, (u32)FileReasonFileTooLarge);
    // An append goes in whole or not at all: the part that went through is cut off again.
    EXPECT_EQ(readWholeFile(dataFolder + "log.bin"), "");
    u32 count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dataFolder)) count += entry.exists();
    EXPECT_EQ(count, 2u);  // no temporary file left
}

TEST_F(FileJobs, DeleteAndMove) {
    writeDataFile("Missions/old.csv", "1");
    writeDataFile("Exported Kmzs/old.kmz", "kmz");
    writeDataFile("Exported Kmzs/taken.kmz", "other");
    FileJobResult deleted{}, deletedAgain{}, moved{}, onto{}, missing{};
    FileJobTable* table = &platform->fileJobs;
    enqueueFileJob(makeString("Missions/old.csv"), "text/csv", nullptr, 0, 0, FileJobWrite, table, &deleted);
    enqueueFileJob(makeString("Missions/old.csv"), "text/csv", nullptr, 0, 0, FileJobWrite, table, &deletedAgain);
    u8 newName[] = {'n', 'e', 'w', '.', 'k', 'm', 'z'};
    enqueueFileJob(makeString("Exported Kmzs/old.kmz"), "application/zip", newName, 7, 0, FileJobMove, table, &moved);
    enqueueFileJob(makeString("Exported Kmzs/new.kmz"), "application/zip", bufferWith("taken.kmz"), 9, 1, FileJobMove,
                   table, &onto);
    enqueueFileJob(makeString("Nowhere/gone.kmz"), "application/zip", bufferWith("x.kmz"), 5, 1, FileJobMove, table,
                   &missing);
    pass();
    pass();
    EXPECT_EQ(fileJobStatus(&deleted), FileStatusSuccess);
    EXPECT_FALSE(exists(dataFolder + "Missions/old.csv"));
    EXPECT_EQ(fileJobStatus(&deletedAgain), FileStatusNotFound);
    EXPECT_EQ(fileJobStatus(&moved), FileStatusSuccess);
    EXPECT_EQ(readWholeFile(dataFolder + "Exported Kmzs/new.kmz"), "kmz");
    EXPECT_FALSE(exists(dataFolder + "Exported Kmzs/old.kmz"));
    // A move never replaces another file.
    EXPECT_EQ(fileJobStatus(&onto), FileStatusOpenUnknownError);
    EXPECT_EQ(readWholeFile(dataFolder + "Exported Kmzs/taken.kmz"), "other");
    EXPECT_EQ(readWholeFile(dataFolder + "Exported Kmzs/new.kmz"), "kmz");
    // Moves and deletes create no folders.
    EXPECT_EQ(fileJobStatus(&missing), FileStatusNotFound);
    EXPECT_FALSE(exists(dataFolder + "Nowhere"));
}

TEST_F(FileJobs, PathsOutOfTheDataFolderAreRefused) {
    writeDataFile("Exported Kmzs/a.kmz", "a");
    writeFile(home + "/Documents/victim.txt", "safe");
    FileJobTable* table = &platform->fileJobs;
    std::vector<std::string> paths = {
        "../victim.txt", "Exported Kmzs/../../victim.txt", "A\\..\\..\\victim.txt", "..",
        (home + "/Documents/victim.txt"), "\\victim.txt", std::string(250, 'p'),
    };
    std::vector<FileJobResult> results(paths.size() + 5);
    for (size_t i = 0; i < paths.size(); i++) {
        enqueueFileJob(makeString(paths[i].c_str()), "text/plain", bufferWith("evil"), 4, 1, FileJobWrite, table,
                       &results[i]);
    }
    size_t n = paths.size();
    enqueueFileJob(makeString("../victim.txt"), "text/plain", nullptr, 0, 0, FileJobWrite, table, &results[n]);
    enqueueFileJob(makeString("Exported Kmzs/a.kmz"), "z", bufferWith("../../victim.txt"), 16, 1, FileJobMove, table,
                   &results[n + 1]);
    enqueueFileJob(makeString("Exported Kmzs/a.kmz"), "z", bufferWith("/tmp/a.kmz"), 10, 1, FileJobMove, table,
                   &results[n + 2]);
    enqueueFileJob(makeString("Exported Kmzs/a.kmz"), "z", nullptr, 0, 0, FileJobMove, table, &results[n + 3]);
    enqueueFileJob(makeString(""), "text/plain", bufferWith("x"), 1, 1, FileJobWrite, table, &results[n + 4]);
    pass();
    for (size_t i = 0; i < results.size(); i++) {
        SCOPED_TRACE(i);
        u32 expected = i == n + 4 ? FileStatusEmptyPath : FileStatusBadPathSyntax;
        EXPECT_EQ(fileJobStatus(&results[i]), expected);
        EXPECT_EQ(results[i].written, 0u);
    }
    EXPECT_EQ(readWholeFile(home + "/Documents/victim.txt"), "safe");
    EXPECT_EQ(readWholeFile(dataFolder + "Exported Kmzs/a.kmz"), "a");
    EXPECT_FALSE(exists("/tmp/a.kmz") && readWholeFile("/tmp/a.kmz") == "a");
}

TEST_F(FileJobs, FolderFailuresAndAccessDenied) {
    FileJobTable* table = &platform->fileJobs;
    FileJobResult noDocuments{};
    std::filesystem::remove_all(home + "/Documents");
    enqueueFileJob(makeString("a.txt"), "text/plain", bufferWith("a"), 1, 1, FileJobWrite, table, &noDocuments);
    pass();
    EXPECT_EQ(fileJobStatus(&noDocuments), FileStatusNoDocumentsFolder);

    // A file where the data folder should be, then a file where a sub-folder should be.
    writeFile(home + "/Documents/Tarnwick", "not a folder");
    FileJobResult appFolder{}, subFolder{}, onFolder{};
    enqueueFileJob(makeString("a.txt"), "text/plain", bufferWith("a"), 1, 1, FileJobWrite, table, &appFolder);
    pass();
    EXPECT_EQ(fileJobStatus(&appFolder), FileStatusCantCreateAppFolder);
    std::filesystem::remove(home + "/Documents/Tarnwick");
    writeDataFile("Tile Maps", "not a folder");
    enqueueFileJob(makeString("Tile Maps/3/1.png"), "image/png", bufferWith("a"), 1, 1, FileJobWrite, table, &subFolder);
    // Writing over a folder is refused by the system.
    std::filesystem::create_directories(dataFolder + "Copernicus/scene");
    enqueueFileJob(makeString("Copernicus/scene"), "image/jp2", bufferWith("a"), 1, 1, FileJobWrite, table, &onFolder);
    pass();
    EXPECT_EQ(fileJobStatus(&subFolder), FileStatusCantCreateSubfolder);
    EXPECT_EQ(fileJobStatus(&onFolder), FileStatusAccessDenied);
    EXPECT_TRUE(std::filesystem::is_directory(dataFolder + "Copernicus/scene"));
}

TEST_F(FileJobs, FullTableDropsTheJobAndFreesHandedOverData) {
    FileJobTable* table = &platform->fileJobs;
    for (u32 i = 0; i < kFileTableSlots; i++) {
        enqueueFileJob(makeString("queued.txt"), "text/plain", nullptr, 0, 0, FileJobWrite, table, nullptr);
    }
    // Nothing has run, so nothing can be reclaimed.
    FileJobResult dropped{}, kept{};
    enqueueFileJob(makeString("x.txt"), "text/plain", bufferWith("handed over"), 11, 1, FileJobWrite, table, &dropped);
    EXPECT_EQ(dropped.status, FileStatusTooManyOpenFiles);
    EXPECT_EQ(dropped.size, 11u);
    EXPECT_EQ(dropped.written, 0u);
    u8* mine = bufferWith("still mine");
    enqueueFileJob(makeString("y.txt"), "text/plain", mine, 10, 0, FileJobWrite, table, &kept);
    EXPECT_EQ(kept.status, FileStatusTooManyOpenFiles);
    EXPECT_EQ(std::memcmp(mine, "still mine", 10), 0);
    freeFileBuffer(mine);
    EXPECT_EQ(table->nextId, (u64)kFileTableSlots);
}

}  // namespace

namespace {

// Quitting: the running flag is already clear when the thread starts, as when the window closed
// with writes still queued; they are all done before the thread returns.
TEST_F(FileJobs, QuitFinishesTheJobsAlreadyQueued) {
    std::vector<FileJobResult> results(40);
    for (u32 i = 0; i < results.size(); i++) {
        std::string text = "log " + std::to_string(i) + "\n";
        enqueueFileJob(makeString(i % 2 ? "Flight Logs/a.txt" : "Flight Logs/b.txt"), "text/plain", bufferWith(text),
                       (u32)text.size(), 1, FileJobAppend, &platform->fileJobs, &results[i]);
    }
    u32 stopped = 0;
    runFileThread(platform, &stopped);
    std::string a, b;
    for (u32 i = 0; i < results.size(); i++) {
        EXPECT_EQ(fileJobStatus(&results[i]), FileStatusSuccess) << i;
        (i % 2 ? a : b) += "log " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(readWholeFile(dataFolder + "Flight Logs/a.txt"), a);
    EXPECT_EQ(readWholeFile(dataFolder + "Flight Logs/b.txt"), b);
}

}  // namespace
