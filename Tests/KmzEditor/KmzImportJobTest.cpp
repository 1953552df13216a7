// A KMZ read into the editor in slices on the job ring (its jobs run here between frames): the editor
// ends as the whole-archive import leaves it (drawing and undo history alike), one KML entry goes in
// per slice, a Load pressed meanwhile waits for the import, and a cancelled import keeps what it
// applied and gives its read back; an archive without a drawing in reach says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Core/JobQueue.h"
#include "Decoders/Zip.h"
#include "KmzEditor/KmzExport.h"
#include "KmzEditor/KmzImport.h"
#include "Overlays/VectorOverlay.h"
#include "Overlays/VectorOverlayFiles.h"
#include "Platform/FileTables.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using EditorPtr = std::unique_ptr<KmzEditor, FreeDeleter>;

EditorPtr newEditor() {
    EditorPtr editor((KmzEditor*)std::calloc(1, sizeof(KmzEditor)));
    editor->lineEnd = -1;
    return editor;
}

// A drawing of polylines and markers as the exporter writes it.
std::vector<u8> kmlOfDrawing(u32 seed, u32 points) {
    EditorPtr editor = newEditor();
    std::mt19937 random(seed);
    std::uniform_real_distribution<f64> across(-0.01, 0.01);
    for (u32 p = 0; p < points; ++p) {
        editor->points[p] = KmzPoint{across(random), across(random)};
        editor->pointColor[p] = (u8)(p / 10 % 7);
        editor->pointUsed[p >> 6] |= 1ull << (p & 63);
        if (p % 10) {
            editor->lines[p] = KmzLine{p - 1, p, p / 10 % 7u};
            editor->lineUsed[p >> 6] |= 1ull << (p & 63);
        }
    }
    for (u32 m = 0; m < points / 20; ++m) {
        editor->markers[m] = KmzMarker{across(random), across(random), m + 1, m % 5};
        editor->markerUsed[m >> 6] |= 1ull << (m & 63);
    }
    ByteWriter measure = makeMeasuringWriter();
    writeKmzDocument(editor.get(), &measure);
    std::vector<u8> kml((size_t)measure.length);
    ByteWriter fill = makeByteWriter(kml.data(), measure.length);
    writeKmzDocument(editor.get(), &fill);
    return kml;
}

// The files stored under their names.
std::vector<u8> storedArchive(const std::vector<std::string>& names, const std::vector<std::vector<u8>>& files) {
    std::vector<u8> archive(1 << 21);
    ByteWriter out = makeByteWriter(archive.data(), (i64)archive.size());
    std::vector<ZipWrittenEntry> written(names.size());
    u64 total = 0;
    for (size_t i = 0; i < names.size(); i++) {
        FixedString name = makeString(names[i].c_str());
        writeZipLocalFile(&written[i], 0, &name, files[i].data(), files[i].size(), &total, &out);
    }
    i64 directory = out.length;
    for (const ZipWrittenEntry& entry : written) writeZipCentralDirectoryHeader(&entry, &out);
    appendU32Le(0x06054B50, &out);
    appendU16Le(0, &out);
    appendU16Le(0, &out);
    appendU16Le((u16)names.size(), &out);
    appendU16Le((u16)names.size(), &out);
    appendU32Le((u32)(out.length - directory), &out);
    appendU32Le((u32)directory, &out);
    appendU16Le(0, &out);
    archive.resize((size_t)out.length);
    return archive;
}

// Three drawings and a text file that is not a KML, stored.
std::vector<u8> archiveOfDrawings() {
    return storedArchive({"a.kml", "notes.txt", "b.KML", "c.kml"},
                         {kmlOfDrawing(1, 300), std::vector<u8>(100, 'x'), kmlOfDrawing(2, 500), kmlOfDrawing(3, 200)});
}

struct ImportRig {
    std::unique_ptr<FileReadTable, FreeDeleter> reads{(FileReadTable*)std::calloc(1, sizeof(FileReadTable))};
    std::unique_ptr<KmzImportJob, FreeDeleter> job{(KmzImportJob*)std::calloc(1, sizeof(KmzImportJob))};
    JobQueue queue{};
    FileReadRequest* pending = nullptr;
    FixedString message{};
    EditorPtr editor = newEditor();

    // A finished read of the archive, as the Load panel leaves it.
    FileReadRequest* read(const std::vector<u8>& archive) {
        u8* bytes = allocateFileBuffer(archive.size());
        std::memcpy(bytes, archive.data(), archive.size());
        return fileRequestFromBuffer(bytes, archive.size(), 1, makeString("Exported Kmzs/drawings.kmz"), 0, reads.get());
    }
    void frame(u32 merge) { updateKmzImport(job.get(), &pending, editor.get(), &message, merge, reads.get(), &queue); }
    bool anyReadInUse() {
        for (u64 word : reads->used) {
            if (word) return true;
        }
        return false;
    }
};

TEST(KmzImportJob, SlicesApplyEachDrawingAsTheWholeArchiveImportDoes) {
    std::vector<u8> archive = archiveOfDrawings();
    for (u32 merge : {0u, 1u}) {
        SCOPED_TRACE(merge);
        EditorPtr whole = newEditor();
        FixedString message{};
        importKmzBytes(archive.data(), (i64)archive.size(), whole.get(), &message, merge);
        ASSERT_EQ(message.length, 0) << message.text;

        ImportRig rig;
        rig.pending = rig.read(archive);
        rig.frame(merge);
        EXPECT_EQ(rig.pending, nullptr);
        EXPECT_TRUE(kmzImportBusy(rig.job.get()));
        i32 slices = 0;
        while (runNextAsyncJob(&rig.queue)) {
            slices++;
            rig.frame(merge);
            // A Load pressed meanwhile waits for the import.
            if (slices == 1) rig.pending = rig.read(archive);
        }
        // One slice per drawing.
        EXPECT_EQ(slices, 3);
        EXPECT_EQ(std::memcmp(whole.get(), rig.editor.get(), sizeof(KmzEditor)), 0);
        EXPECT_EQ(rig.job->percent, 100u);
        // The waiting read is the next import's.
        ASSERT_NE(rig.pending, nullptr);
        EXPECT_FALSE(kmzImportBusy(rig.job.get()));
        rig.frame(merge);
        EXPECT_EQ(rig.pending, nullptr);
        EXPECT_TRUE(kmzImportBusy(rig.job.get()));
        cancelKmzImport(rig.job.get());
        while (runNextAsyncJob(&rig.queue)) rig.frame(merge);
        EXPECT_FALSE(rig.anyReadInUse());
    }
}

TEST(KmzImportJob, ACancelledImportKeepsWhatItAppliedAndGivesItsReadBack) {
    std::vector<u8> archive = archiveOfDrawings();
    ImportRig rig;
    rig.pending = rig.read(archive);
    rig.frame(1);
    ASSERT_EQ(runNextAsyncJob(&rig.queue), 1);
    rig.frame(1);  // the first drawing goes in
    EXPECT_STREQ(undoLabel(&rig.editor->history), "Merge");
    EditorPtr afterFirst = newEditor();
    std::memcpy((void*)afterFirst.get(), rig.editor.get(), sizeof(KmzEditor));
    cancelKmzImport(rig.job.get());
    while (runNextAsyncJob(&rig.queue)) rig.frame(1);
    rig.frame(1);
    EXPECT_FALSE(kmzImportBusy(rig.job.get()));
    EXPECT_EQ(std::memcmp(afterFirst.get(), rig.editor.get(), sizeof(KmzEditor)), 0);
    EXPECT_FALSE(rig.anyReadInUse());
}

// An archive with no ".kml" at all, or none among the 200 entries the directory lists, says why it
// gives nothing, in the overlay loader's words, and leaves the drawing and the read as they were.
TEST(KmzImportJob, AnArchiveWithoutAKmlInReachSaysSoAsTheOverlayLoaderDoes) {
    for (u32 before : {0u, 3u, 200u, 230u}) {
        SCOPED_TRACE(std::to_string(before) + " other files");
        std::vector<std::string> names;
        std::vector<std::vector<u8>> files;
        for (u32 i = 0; i < before; i++) {
            names.push_back("files/" + std::to_string(i) + ".txt");
            files.push_back(std::vector<u8>(1 + i % 5, 'x'));
        }
        // A drawing past the listed entries is out of reach like no drawing at all.
        if (before >= 200) {
            names.push_back("doc.kml");
            files.push_back(kmlOfDrawing(4, 50));
        }
        std::vector<u8> archive = storedArchive(names, files);
        std::unique_ptr<VectorOverlay, FreeDeleter> overlay((VectorOverlay*)std::calloc(1, sizeof(VectorOverlay)));
        FixedString loader = parseKmz(archive.data(), (i64)archive.size(), overlay.get());
        ASSERT_GT(loader.length, 0);
        std::string expected(loader.text, loader.length);
        EXPECT_EQ(expected, before >= 200 ? "No .kml among the first 200 of the " + std::to_string(before + 1) +
                                                " files in the .kmz"
                                          : "The .kmz holds no .kml file");

        EditorPtr whole = newEditor();
        FixedString message{};
        importKmzBytes(archive.data(), (i64)archive.size(), whole.get(), &message, 1);
        EXPECT_EQ(std::string(message.text, message.length), expected);

        ImportRig rig;
        EditorPtr untouched = newEditor();
        rig.pending = rig.read(archive);
        rig.frame(1);
        for (i32 slices = 0; kmzImportBusy(rig.job.get()) && slices < 1000; slices++) {
            runNextAsyncJob(&rig.queue);
            rig.frame(1);
        }
        EXPECT_FALSE(kmzImportBusy(rig.job.get()));
        EXPECT_EQ(std::string(rig.message.text, rig.message.length), expected);
        EXPECT_EQ(std::memcmp(untouched.get(), rig.editor.get(), sizeof(KmzEditor)), 0);
        EXPECT_FALSE(rig.anyReadInUse());
    }
}

}  // namespace
