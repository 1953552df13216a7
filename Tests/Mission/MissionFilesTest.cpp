// Mission files in a temporary data folder, through the file thread's passes: saves that Python's
// csv module reads back whole, the list newest first, loads as one undo record per object, renames,
// deletes, hand-written and damaged files, refused names, and the dialog driven by real frames.
#include "Mission/MissionFiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/WaypointUndo.h"
#include "Platform/FileSystem.h"
#include "Platform/FileTestSupport.h"

namespace {

struct Plan {
    WaypointMissionEditor editor;
    TransectRegion transect;
    OrvikGeofence geofence;
    FlightLogger logger;
    Preferences preferences;
    MissionList list;
    FileReadRequest* pending;
};

Vec2 mercator(f64 latitude, f64 longitude) {
    GeoPoint geo = {longitude, latitude};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

void addWaypoint(WaypointMissionEditor* editor, f64 latitude, f64 longitude, f64 altitude, u32 ignite, i32 item) {
    Vec2 at = mercator(latitude, longitude);
    ASSERT_TRUE(insertWaypoint(editor, editor->waypointCount, at.x, at.y, altitude));
    editor->waypoints[editor->waypointCount - 1].ignitePreviousSegment = ignite;
    editor->waypoints[editor->waypointCount - 1].missionItemNumber = item;
}

size_t recordsIn(UndoRing* ring) {
    size_t n = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) ++n;
    return n;
}

std::string runPython(const std::string& script, const std::string& argument) {
    std::string command = "/usr/bin/python3 -c '" + script + "' '" + argument + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    if (pipe) pclose(pipe);
    return out;
}

class MissionFiles : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        plan = std::make_unique<Plan>();
        plan->logger.logFileName = makeString("Flight Logs/test.qvlog3");
        plan->geofence.flightLogger = &plan->logger;
    }

    // Frames and file-thread passes until the list is quiet: no work, no listing in flight.
    void settle() {
        for (int i = 0; i < 20; i++) {
            updateMissionList(&plan->list, &platform->fileReads);
            FixedString loaded = applyLoadedMission(&plan->pending, &plan->editor, &plan->transect, &plan->geofence,
                                                    nullptr, &plan->preferences, &platform->fileReads);
            if (loaded.length) plan->list.message = loaded;
            if (plan->list.work == MissionWorkNone && !plan->list.listing && !plan->list.refreshWanted &&
                !plan->pending && plan->list.listed) {
                return;
            }
            pass();
        }
        FAIL() << "the mission files never settled";
    }

    void save(const char* name) {
        MissionPlanView view = editedMissionPlan(&plan->editor, &plan->transect, &plan->geofence);
        FixedString refused = startMissionSave(&plan->list, makeString(name), &view, &plan->preferences,
                                               &platform->fileJobs);
        ASSERT_EQ(refused.length, 0) << refused.text;
        settle();
    }

    std::vector<std::string> listedNames() {
        std::vector<std::string> names;
        for (i32 i = 0; i < plan->list.count; i++) names.push_back(plan->list.entries[i].name.text);
        return names;
    }

    // A whole CSV text handed to applyLoadedMission as a finished read.
    FixedString loadText(const std::string& text) {
        u8* bytes = allocateFileBuffer(text.size());
        std::memcpy(bytes, text.data(), text.size());
        plan->pending = fileRequestFromBuffer(bytes, text.size(), 1, makeString("Missions/hand.csv"), 0,
                                              &platform->fileReads);
        return applyLoadedMission(&plan->pending, &plan->editor, &plan->transect, &plan->geofence, nullptr,
                                  &plan->preferences, &platform->fileReads);
    }

    std::unique_ptr<Plan> plan;
};

// A plan of every kind of object with settings that are not the defaults.
void fillPlan(Plan* p) {
    p->editor.referenceLatitude = 61.123456789;
    p->editor.referenceLongitude = -149.987654321;
    addWaypoint(&p->editor, 61.1234, -149.9876, 120.5, 0, 3);
    addWaypoint(&p->editor, -33.865143, 151.2099, 80.25, 1, 4);
    addWaypoint(&p->editor, 0.000000001, -0.000000001, -12, 1, 0);
    addWaypoint(&p->editor, 85.0, 179.999999999, 1000.125, 0, -7);
    Vec2 transect[] = {mercator(61.1, -150.0), mercator(61.2, -150.0), mercator(61.2, -149.8)};
    for (Vec2 v : transect) addTransectPoint(&p->transect, v);
    Vec2 fence[] = {mercator(61.0, -150.1), mercator(61.3, -150.1), mercator(61.3, -149.7), mercator(61.0, -149.7)};
    for (Vec2 v : fence) addGeofencePoint(&p->geofence, v);
    Preferences* prefs = &p->preferences;
    prefs->waypointMissionCruiseSpeed = 7.25;
    prefs->waypointCurveRange = 3.5;
    prefs->waypointSnapAltitudeMode = 1;
    prefs->waypointSnapAltitudeAboveGroundLevel = 60;
    prefs->waypointSnapAltitudeAboveTakeoffLocation = 45.5;
    prefs->verticalFlightPathToFirstWaypoint = 1;
    prefs->orvikDropSpacing = 22.125;
    prefs->transectUsage = 2;
    prefs->transectZigZagHeading = -35.75;
    prefs->transectSpacing = 40;
    prefs->transectOvershootDistance = 12.0000001;
}

const char* const kPythonReader =
    "import csv,sys\n"
    "rows=list(csv.reader(open(sys.argv[1],newline=\"\",encoding=\"utf-8\")))\n"
    "assert rows[0]==[\"Type\",\"Latitude\",\"Longitude\",\"Altitude\",\"Ignite\",\"Field\"], rows[0]\n"
    "for r in rows[1:]:\n"
    "  assert len(r)==6, r\n"
    "  if r[0]==\"Setting\": print(\"Setting\\t\"+r[1]+\"\\t\"+r[2])\n"
    "  elif r[0]==\"Waypoint\": print(\"Waypoint\\t%r\\t%r\\t%r\\t%d\\t%d\"%(float(r[1]),float(r[2]),float(r[3]),int(r[4]),int(r[5])))\n"
    "  else: print(r[0]+\"\\t%r\\t%r\"%(float(r[1]),float(r[2])))\n";

TEST_F(MissionFiles, SavedFileHoldsEveryObjectAndSettingAsPythonsCsvReadsIt) {
    fillPlan(plan.get());
    save("Burn plan, north");
    EXPECT_STREQ(plan->list.message.text, "Saved Burn plan, north.csv");
    ASSERT_EQ(listedNames(), std::vector<std::string>{"Burn plan, north.csv"});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dataFolder + "Missions"),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left

    std::stringstream rows(runPython(kPythonReader, dataFolder + "Missions/Burn plan, north.csv"));
    std::string line;
    std::vector<std::vector<std::string>> byType[5];
    std::map<std::string, std::string> settings;
    const char* types[] = {"Reference", "Waypoint", "Transect", "Geofence", "Setting"};
    while (std::getline(rows, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) fields.push_back(field);
        for (int t = 0; t < 5; t++) {
            if (fields[0] == types[t]) byType[t].push_back(fields);
        }
        if (fields[0] == "Setting") settings[fields[1]] = fields[2];
    }
    ASSERT_EQ(byType[0].size(), 1u);
    EXPECT_NEAR(std::stod(byType[0][0][1]), 61.123456789, 1e-12);
    EXPECT_NEAR(std::stod(byType[0][0][2]), -149.987654321, 1e-12);
    ASSERT_EQ(byType[1].size(), 4u);
    for (int i = 0; i < 4; i++) {
        const Waypoint& w = plan->editor.waypoints[i];
        Vec2 at = {w.x, w.y};
        GeoPoint geo;
        mercatorToLatLng(&geo, &at);
        EXPECT_NEAR(std::stod(byType[1][i][1]), geo.latitude, 5.1e-10) << i;
        EXPECT_NEAR(std::stod(byType[1][i][2]), geo.longitude, 5.1e-10) << i;
        EXPECT_NEAR(std::stod(byType[1][i][3]), w.altitude, 5e-4) << i;
        EXPECT_EQ(std::stoi(byType[1][i][4]), (int)w.ignitePreviousSegment) << i;
        EXPECT_EQ(std::stoi(byType[1][i][5]), w.missionItemNumber) << i;
    }
    ASSERT_EQ(byType[2].size(), 3u);
    ASSERT_EQ(byType[3].size(), 4u);
    for (int t = 2; t <= 3; t++) {
        const Vec2* points = t == 2 ? plan->transect.points : plan->geofence.points;
        for (size_t i = 0; i < byType[t].size(); i++) {
            GeoPoint geo;
            mercatorToLatLng(&geo, &points[i]);
            EXPECT_NEAR(std::stod(byType[t][i][1]), geo.latitude, 5.1e-10);
            EXPECT_NEAR(std::stod(byType[t][i][2]), geo.longitude, 5.1e-10);
        }
    }
    std::map<std::string, std::string> expected = {
        {"Waypoint mission cruise Speed (m/s)", "7.25"},
        {"Waypoint curve range (m)", "3.5"},
        {"Waypoint snap altitude mode", "Above Takeoff Location"},
        {"Waypoint snap altitude above ground level (m)", "60"},
        {"Waypoint snap altitude above takeoff location (m)", "45.5"},
        {"Vertical flight path to first waypoint", "Straight"},
        {"Orvik drop spacing (m)", "22.125"},
        {"Transect Usage", "Mapping"},
        {"Transect Zig-Zag Heading (degrees)", "-35.75"},
        {"Transect Spacing (meters)", "40"},
        {"Transect Overshoot Distance (meters)", "12.0000001"},
    };
    EXPECT_EQ(settings, expected);
}

TEST_F(MissionFiles, SaveListLoadRenameAndDeleteKeepTheFolderAndThePlanInStep) {
    fillPlan(plan.get());
    save("older");
    std::filesystem::last_write_time(dataFolder + "Missions/older.csv",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    plan->editor.waypoints[0].altitude = 33;
    save("newer.csv");
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"newer.csv", "older.csv"}));

    // Saving again under a taken name replaces the file whole, with no temporary left.
    plan->editor.waypoints[0].altitude = 44;
    save("newer");
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"newer.csv", "older.csv"}));
    EXPECT_NE(readWholeFile(dataFolder + "Missions/newer.csv").find(",44,0,3\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dataFolder + "Missions"),
                            std::filesystem::directory_iterator()),
              2);

    // Loading into a fresh plan: one undo record per object, and undo takes each back.
    auto saved = std::make_unique<Plan>(*plan);
    std::memset(&plan->editor, 0, sizeof plan->editor);
    std::memset(&plan->transect, 0, sizeof plan->transect);
    std::memset(&plan->geofence, 0, sizeof plan->geofence);
    std::memset(&plan->preferences, 0, sizeof plan->preferences);
    plan->geofence.flightLogger = &plan->logger;
    ASSERT_EQ(startMissionLoad(&plan->pending, makeString("older.csv"), &platform->fileReads).length, 0);
    settle();
    EXPECT_STREQ(plan->list.message.text, "Loaded older.csv");
    ASSERT_EQ(plan->editor.waypointCount, 4);
    EXPECT_EQ(plan->editor.referenceLatitude, 61.123456789);
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(plan->editor.waypoints[i].x, saved->editor.waypoints[i].x, 1e-11);
        EXPECT_NEAR(plan->editor.waypoints[i].y, saved->editor.waypoints[i].y, 1e-11);
        EXPECT_EQ(plan->editor.waypoints[i].ignitePreviousSegment, saved->editor.waypoints[i].ignitePreviousSegment);
    }
    EXPECT_EQ(plan->editor.waypoints[0].altitude, 120.5);  // older.csv was saved before the change
    EXPECT_EQ(plan->transect.pointCount, 3);
    EXPECT_EQ(plan->geofence.pointCount, 4);
    EXPECT_EQ(plan->geofence.logEntry.type, (u32)FlightLogGeofenceChanged);
    EXPECT_EQ(plan->preferences.transectUsage, 2u);
    EXPECT_EQ(plan->preferences.transectOvershootDistance, 12.0000001);
    EXPECT_EQ(recordsIn(&plan->editor.history.undo), 1u);
    EXPECT_EQ(recordsIn(&plan->transect.history.undo), 1u);
    EXPECT_EQ(recordsIn(&plan->geofence.history.undo), 1u);
    EXPECT_STREQ(undoLabel(&plan->editor.history), "Load");
    undoLastAction(&plan->editor.history);
    undoLastAction(&plan->geofence.history);
    EXPECT_EQ(plan->editor.waypointCount, 0);
    EXPECT_EQ(plan->geofence.pointCount, 0);

    // Rename: onto a taken name is refused; onto a free one moves the file.
    EXPECT_STREQ(startMissionRename(&plan->list, makeString("older.csv"), makeString("newer"), &platform->fileJobs).text,
                 "A mission named newer.csv exists already");
    ASSERT_EQ(startMissionRename(&plan->list, makeString("older.csv"), makeString("South ridge"), &platform->fileJobs)
                  .length,
              0);
    settle();
    EXPECT_STREQ(plan->list.message.text, "Renamed older.csv to South ridge.csv");
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"newer.csv", "South ridge.csv"}));

    ASSERT_EQ(startMissionDelete(&plan->list, makeString("newer.csv"), &platform->fileJobs).length, 0);
    settle();
    EXPECT_STREQ(plan->list.message.text, "Deleted newer.csv");
    EXPECT_EQ(listedNames(), std::vector<std::string>{"South ridge.csv"});
    EXPECT_FALSE(std::filesystem::exists(dataFolder + "Missions/newer.csv"));

    // A file gone behind the list's back reports the failure.
    std::filesystem::remove(dataFolder + "Missions/South ridge.csv");
    ASSERT_EQ(startMissionLoad(&plan->pending, makeString("South ridge.csv"), &platform->fileReads).length, 0);
    settle();
    EXPECT_STREQ(plan->list.message.text, "Couldn't load South ridge.csv: File not found");
}

// The file thread stops after its first, second, ... step of a save over an existing mission, as a
// crash or a power cut would stop it: the mission's file is then the old text or the new one, whole,
// and the list still shows it. Then the save runs to its end.
u32 gStopAfter;
u32 gStepsDone;
u32 stopAfterStep(void*, u32) { return ++gStepsDone < gStopAfter ? 1 : 0; }

TEST_F(MissionFiles, ASaveStoppedAfterAnyStepLeavesTheOldOrTheNewMissionWhole) {
    fillPlan(plan.get());
    save("ridge");
    std::string oldText = readWholeFile(dataFolder + "Missions/ridge.csv");
    plan->editor.waypoints[1].altitude = 77;
    MissionPlanView view = editedMissionPlan(&plan->editor, &plan->transect, &plan->geofence);
    ByteWriter measure = makeMeasuringWriter();
    std::string newText((size_t)writeMissionCsv(&view, &plan->preferences, &measure), '\0');
    ByteWriter writer = makeByteWriter(newText.data(), (i64)newText.size());
    writeMissionCsv(&view, &plan->preferences, &writer);
    ASSERT_NE(oldText, newText);

    FileSystemTestHooks hooks{nullptr, nullptr, stopAfterStep};
    setFileSystemTestHooks(&hooks);
    u32 stops = 0;
    for (gStopAfter = 1;; gStopAfter++) {
        writeDataFile("Missions/ridge.csv", oldText);
        gStepsDone = 0;
        ASSERT_EQ(startMissionSave(&plan->list, makeString("ridge"), &view, &plan->preferences, &platform->fileJobs)
                      .length,
                  0);
        pass();
        bool stopped = gStepsDone >= gStopAfter;
        std::string onDisk = readWholeFile(dataFolder + "Missions/ridge.csv");
        EXPECT_TRUE(onDisk == oldText || onDisk == newText) << "stopped after step " << gStopAfter;
        settle();
        EXPECT_EQ(listedNames(), std::vector<std::string>{"ridge.csv"}) << "stopped after step " << gStopAfter;
        if (!stopped) break;
        stops++;
    }
    setFileSystemTestHooks(nullptr);
    EXPECT_GE(stops, 3u);  // written, made durable, renamed, ...
    EXPECT_EQ(readWholeFile(dataFolder + "Missions/ridge.csv"), newText);
    EXPECT_STREQ(plan->list.message.text, "Saved ridge.csv");
}

TEST_F(MissionFiles, HandWrittenFileWithOtherRowOrderCrlfAndQuotedFieldsLoads) {
    std::string text =
        "\xEF\xBB\xBF"
        "Latitude,Type,Longitude,Field,Ignite,Altitude\r\n"
        "\"10.5\",Geofence,20.25,,,\r\n"
        "\"Transect Spacing (meters)\",Setting,\"55.5\",,,\r\n"
        "1.5,\"Waypoint\",2.5,9,1,\"100\"\r\n"
        "\r\n"
        "-1.5,Transect,-2.5\r\n"
        "3,Reference,4,,,\r\n"
        "\"1.25\",Waypoint,\"2.75\",,0,\"-5.5\"\r\n"
        "\"Vertical flight path to first waypoint\",\"Setting\",\"straight\",,,\r\n";
    FixedString report = loadText(text);
    EXPECT_STREQ(report.text, "Loaded hand.csv");
    ASSERT_EQ(plan->editor.waypointCount, 2);
    GeoPoint geo;
    Vec2 at = {plan->editor.waypoints[0].x, plan->editor.waypoints[0].y};
    mercatorToLatLng(&geo, &at);
    EXPECT_NEAR(geo.latitude, 1.5, 1e-9);
    EXPECT_NEAR(geo.longitude, 2.5, 1e-9);
    EXPECT_EQ(plan->editor.waypoints[0].altitude, 100);
    EXPECT_EQ(plan->editor.waypoints[0].ignitePreviousSegment, 1u);
    EXPECT_EQ(plan->editor.waypoints[0].missionItemNumber, 9);
    EXPECT_EQ(plan->editor.waypoints[1].altitude, -5.5);
    EXPECT_EQ(plan->editor.waypoints[1].missionItemNumber, 0);
    EXPECT_EQ(plan->editor.referenceLatitude, 3);
    EXPECT_EQ(plan->editor.referenceLongitude, 4);
    EXPECT_EQ(plan->transect.pointCount, 1);
    ASSERT_EQ(plan->geofence.pointCount, 1);
    mercatorToLatLng(&geo, &plan->geofence.points[0]);
    EXPECT_NEAR(geo.latitude, 10.5, 1e-9);
    EXPECT_EQ(plan->preferences.transectSpacing, 55.5);
    EXPECT_EQ(plan->preferences.verticalFlightPathToFirstWaypoint, 1u);

    // A quoted key holding a comma and doubled quotes is one field.
    MissionFileContent* content = new MissionFileContent;
    std::string quoted = "Type,Latitude,Longitude\nSetting,\"Transect Usage\",\"Ignition\"\nSetting,\"a,\"\"b\"\"\",1\n";
    readMissionCsv(content, (const u8*)quoted.data(), (i64)quoted.size());
    EXPECT_EQ(content->settingsFound, 1u << 7);
    EXPECT_EQ(content->settings[7], 1);
    EXPECT_EQ(content->badRows, 1);
    EXPECT_EQ(content->firstBadLine, 3);
    delete content;
}

TEST_F(MissionFiles, BadNumbersAndTooManyWaypointsLoadWhatFitsAndReportTheRest) {
    // Two waypoints already flown on the vehicle stay; 97 places are left.
    addWaypoint(&plan->editor, 1, 1, 50, 0, 1);
    addWaypoint(&plan->editor, 1.1, 1, 50, 0, 2);
    plan->editor.waypoints[0].uploadMark = 1;
    plan->editor.waypoints[1].uploadMark = 1;
    std::string text = "Type,Latitude,Longitude,Altitude,Ignite,Field\n";
    for (int i = 0; i < 120; i++) text += formatInt("Waypoint,10.@,20,30,0,0\n", i).text;
    text += "Waypoint,abc,20,30,0,0\n";       // line 122
    text += "Waypoint,10,20,1e400,0,0\n";     // not finite
    text += "Waypoint,10,20,30,2,0\n";        // ignite is 0 or 1
    text += "Geofence,95,20,,,\n";            // beyond Web-Mercator
    text += "Transect,10,20x,,,\n";
    text += "Setting,Transect Usage,Sometimes,,,\n";
    text += "Bogus,1,2,,,\n";
    for (int i = 0; i < 103; i++) text += "Geofence,1,2,,,\n";
    FixedString report = loadText(text);
    EXPECT_STREQ(report.text,
                 "Loaded hand.csv. File contained 120 waypoints but our buffer can only hold 97. File contained 103 "
                 "geofence points but our buffer can only hold 100. Skipped 7 unreadable rows, the first on line 122.");
    ASSERT_EQ(plan->editor.waypointCount, 99);
    EXPECT_EQ(plan->editor.waypoints[0].altitude, 50);
    EXPECT_EQ(plan->editor.waypoints[1].uploadMark, 1u);
    EXPECT_EQ(plan->editor.waypoints[98].altitude, 30);
    EXPECT_EQ(plan->geofence.pointCount, 100);
    EXPECT_EQ(plan->transect.pointCount, 0);

    // Text that is no mission at all leaves the plan as it was.
    FixedString nothing = loadText("<html>\nnot a mission\n");
    EXPECT_STREQ(nothing.text, "hand.csv holds no mission. Skipped 2 unreadable rows, the first on line 1.");
    EXPECT_EQ(plan->editor.waypointCount, 99);
    EXPECT_EQ(plan->geofence.pointCount, 100);
}

TEST_F(MissionFiles, AltitudesFromAFileWhoseReferenceStandsOnOtherGroundAreRebased) {
    // Ground rising from 100 m at longitude 0 to 200 m at longitude 10.
    auto loader = std::make_unique<ElevationMapLoader>();
    i16 samples[4] = {100, 200, 100, 200};
    ElevationRaster* raster = &loader->slots[0].raster;
    raster->width = raster->height = 2;
    raster->rowStride = 4;
    raster->noData = -32768;
    raster->sampleFormat = kRasterSamplesI16;
    raster->samples = (u8*)samples;
    raster->georeference.kind = kGeoreferenceLonLatGrid;
    raster->georeference.west = 0;
    raster->georeference.east = 10;
    raster->georeference.south = 0;
    raster->georeference.north = 10;
    raster->georeference.lastColumn = raster->georeference.lastRow = 1;
    loader->order[0] = 0;
    loader->loadedCount = 1;
    plan->editor.referenceLatitude = 5;
    plan->editor.referenceLongitude = 1;  // ground 110 m

    std::string text = "Reference,5,6,,,\nWaypoint,5,7,30,0,0\n";  // ground 160 m
    u8* bytes = allocateFileBuffer(text.size());
    std::memcpy(bytes, text.data(), text.size());
    plan->pending = fileRequestFromBuffer(bytes, text.size(), 1, makeString("Missions/far.csv"), 0, &platform->fileReads);
    FixedString report = applyLoadedMission(&plan->pending, &plan->editor, &plan->transect, &plan->geofence,
                                            loader.get(), &plan->preferences, &platform->fileReads);
    EXPECT_STREQ(report.text, "Loaded far.csv");
    ASSERT_EQ(plan->editor.waypointCount, 1);
    EXPECT_NEAR(plan->editor.waypoints[0].altitude, 80, 1e-3);
    EXPECT_EQ(plan->editor.referenceLongitude, 1);
    raster->samples = nullptr;
}

TEST_F(MissionFiles, NamesThatLeaveTheFolderOrHoldControlCharactersAreRefused) {
    const char* refused[] = {"", "a/b", "..\\x", "..", "a..b", "../Preferences", "tab\there", "bell\x07",
                             "del\x7F", ".csv"};
    MissionPlanView view = editedMissionPlan(&plan->editor, &plan->transect, &plan->geofence);
    for (const char* name : refused) {
        FixedString message = startMissionSave(&plan->list, makeString(name), &view, &plan->preferences,
                                               &platform->fileJobs);
        EXPECT_GT(message.length, 0) << name;
        EXPECT_GT(startMissionRename(&plan->list, makeString("x.csv"), makeString(name), &platform->fileJobs).length, 0)
            << name;
    }
    EXPECT_STREQ(missionNameProblem(makeString("a/b")).text, "A mission name can't contain / or \\");
    EXPECT_STREQ(missionNameProblem(makeString("a..b")).text, "A mission name can't contain ..");
    for (u32 w = 0; w < kFileTableWords; w++) EXPECT_EQ(platform->fileJobs.used[w], 0u);
    for (const char* name : {"Burn 1", "ridge.v2", "Ünïcode plan", "a.b.c.csv"}) {
        EXPECT_EQ(missionNameProblem(makeString(name)).length, 0) << name;
    }
}

}  // namespace
