// "DOWNLOAD MAPS": satellite images from the Copernicus Data Space. The map on the left picks the
// region (the area it shows is searched); the list on the right holds the login, the search, the
// products found and the download, with the downloader's progress or outcome at the bottom.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Crypto/StoredPassword.h"
#include "Map/CopernicusDownloader.h"
#include "Map/TileMaps.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr f32 kMapShare = 0.55f;  // of the window's width
constexpr f32 kMapDepth = 0.5f;

struct CopernicusRegionScreenState {
    u32 initialised;
    i32 selected;  // product index, -1 none
    FixedString username;
    FixedString password;  // plain while the screen is open
    FixedString passwordMessage;  // why the stored password could not be read back
    MapView map;
    MapView list;
};

const char* const kMonthNames[13] = {"any month", "January", "February", "March",     "April",   "May",     "June",
                                     "July",      "August",  "September", "October", "November", "December"};

// The longitude and latitude box of what the map shows.
Box2 shownRegion(const MapView* map) {
    GeoPoint a = screenPointToGeo(map, map->rect.x0, map->rect.y0);
    GeoPoint b = screenPointToGeo(map, map->rect.x1, map->rect.y1);
    Box2 box{a.longitude < b.longitude ? a.longitude : b.longitude, a.longitude < b.longitude ? b.longitude : a.longitude,
             a.latitude < b.latitude ? a.latitude : b.latitude, a.latitude < b.latitude ? b.latitude : a.latitude};
    if (box.maxX - box.minX >= 360) {
        box.minX = -180;
        box.maxX = 180;
    }
    return box;
}

// Keeps the login in the preferences only while the user asks for it, the password in its stored form.
void storeLogin(CopernicusRegionScreenState* state, Preferences* preferences) {
    if (preferences->copernicusSaveLoginInfo != 1) {
        preferences->copernicusUsername = FixedString{};
        preferences->copernicusPassword = FixedString{};
        return;
    }
    preferences->copernicusUsername = state->username;
    FixedString stored{};
    FixedString failure = obscurePassword(&stored, &state->password);
    preferences->copernicusPassword = failure.length ? FixedString{} : stored;
}

FixedString productDescription(const CopernicusProduct* product) {
    FixedString date = stringFromBytes(product->startDate.text, product->startDate.length < 10 ? product->startDate.length : 10);
    FixedString cloud = product->cloudCover >= 0 ? formatStr("@ % cloud", stringFromDouble(product->cloudCover, 1))
                                                 : makeString("cloud cover unknown");
    return product->contentLength ? formatStrStrStr("@, @, @", date, cloud, byteSizeString(product->contentLength))
                                  : formatStrStr("@, @", date, cloud);
}

}  // namespace

void selectCopernicusRegionScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                  ScreenResult* result, void* scratch) {
    ProfilingScope scope("Select Copernicus Region Screen");
    (void)result;
    static_assert(sizeof(CopernicusRegionScreenState) <= sizeof(stack->screenState));
    CopernicusRegionScreenState* state = (CopernicusRegionScreenState*)scratch;
    Preferences* preferences = &app->preferences;
    CopernicusDownloader* downloader = &app->copernicusDownloader;
    if (!state->initialised) {
        state->initialised = 1;
        state->selected = -1;
        state->map = makeMapView(WIDGET_ID, MapViewModeMap);
        state->list = makeScrollView(WIDGET_ID);
        state->username = preferences->copernicusUsername;
        if (preferences->copernicusPassword.length) {
            FixedString failure = revealPassword(&state->password, &preferences->copernicusPassword);
            if (failure.length) state->passwordMessage = formatStr("The saved password could not be read: @", failure);
        }
    }

    const Rect& screen = ui->screenRect;
    f32 split = screen.x0 + (screen.x1 - screen.x0) * kMapShare;
    Rect mapRect{screen.x0, split, screen.y0, screen.y1};
    Rect listRect{split, screen.x1, screen.y0, screen.y1};

    updateMapView(&state->map, &mapRect, Box2{0, 0, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    drawTileMaps(&state->map, ui, platform, preferences, &app->tileMaps, kMapDepth, 0);
    MapTaps taps;
    handleMapPointers(&taps, &state->map, stack);
    Box2 region = shownRegion(&state->map);

    MapView* view = &state->list;
    beginMapView(&listRect, platform, ui, view);
    TextEditState* focus = &stack->runner.textFocus;
    bool busy = downloader->state != CopernicusIdle;

    {
        FixedString title = makeString("DOWNLOAD MAPS");
        FixedString text = makeString("Sentinel-2 images of the area the map shows");
        infoRow(&title, &text, 0, ui, view);
    }
    {
        FixedString title = makeString("Copernicus username");
        FixedString placeholder = makeString("e-mail address");
        WidgetId id = WIDGET_ID;
        textFieldRow(&title, &state->username, &state->username, &placeholder, TextKeyboardFull, 0, stack, ui, focus,
                     view, &id);
    }
    {
        FixedString title = makeString("Copernicus password");
        FixedString placeholder = makeString("password");
        FixedString hidden = state->passwordMessage.length ? state->passwordMessage
                             : state->password.length      ? makeString("********")
                                                           : FixedString{};
        WidgetId id = WIDGET_ID;
        TextFieldRowResult r = textFieldRow(&title, &hidden, &state->password, &placeholder, TextKeyboardFull, 0,
                                            stack, ui, focus, view, &id);
        if (r.changed) state->passwordMessage = FixedString{};
    }
    {
        FixedString title = makeString("Copernicus save login info");
        FixedString text = makeString("Keep the login for next time");
        RowResult r = checkboxRow(&title, &text, 0, preferences->copernicusSaveLoginInfo == 1 ? 1 : 0, stack, ui, view);
        if (r.clicked) {
            preferences->copernicusSaveLoginInfo = preferences->copernicusSaveLoginInfo == 1 ? 0 : 1;
            if (preferences->copernicusSaveLoginInfo != 1) storeLogin(state, preferences);
        }
    }
    if (!busy) {
        FixedString title = makeString(downloader->loggedIn ? "Log in again" : "Log in");
        FixedString text = downloader->loggedIn ? formatStr("Logged in as @", downloader->username) : FixedString{};
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked &&
            startCopernicusLogin(downloader, &state->username, &state->password)) {
            storeLogin(state, preferences);
        }
    }
    {
        u32 month = preferences->copernicusSearchMonth <= 12 ? preferences->copernicusSearchMonth : 0;
        FixedString title = makeString("Search");
        FixedString text = formatStrStr("@, at most @ % cloud", makeString(kMonthNames[month]),
                                        stringFromDoubleTrimmed(preferences->copernicusMaxCloudCover, 1));
        if (!busy && buttonRow(&title, &text, 0, stack, ui, view).clicked &&
            startCopernicusSearch(downloader, region, month, preferences->copernicusMaxCloudCover)) {
            state->selected = -1;
        }
    }
    for (i32 i = 0; i < downloader->productCount; i++) {
        const CopernicusProduct* product = &downloader->products[i];
        FixedString text = productDescription(product);
        if (checkboxRow(&product->name, &text, 0, state->selected == i ? 1 : 0, stack, ui, view).clicked && !busy) {
            state->selected = state->selected == i ? -1 : i;
        }
    }
    if (state->selected >= downloader->productCount) state->selected = -1;
    if (!busy && state->selected >= 0) {
        FixedString title = makeString("Download");
        FixedString text = formatStr("Into Copernicus/ as @.zip", downloader->products[state->selected].name);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) startCopernicusDownload(downloader, state->selected);
    }
    if (busy) {
        FixedString title = makeString("Cancel");
        FixedString text{};
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) cancelCopernicusOperation(downloader, platform);
    }
    if (downloader->message.length) {
        FixedString title = makeString(downloader->failed ? "Failed" : "Status");
        infoRow(&title, &downloader->message, 0, ui, view);
    }
    endMapView(stack, ui, view);
}
