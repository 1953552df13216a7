// KML to VectorOverlay: pass 1 reads the styles, pass 2 the placemarks and their geometry; polygons
// are triangulated as they close.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/Geometry.h"
#include "Core/MathEarth.h"
#include "Decoders/Xml.h"
#include "Overlays/VectorOverlay.h"

namespace {

constexpr u32 kMaxLineStyles = 50;
constexpr u32 kMaxPolyStyles = 30;
constexpr u32 kMaxStyleMaps = 20;
constexpr u32 kMaxInnerRings = 1000;
constexpr i32 kTrackedDepth = 256;
constexpr f64 kPi = 3.14159265358979323846;

enum KmlElement : u8 {
    KmlOther = 0,
    KmlStyle,
    KmlLineStyle,
    KmlPolyStyle,
    KmlIconStyle,
    KmlIcon,
    KmlHref,
    KmlHotSpot,
    KmlColor,
    KmlWidth,
    KmlFill,
    KmlScale,
    KmlStyleMap,
    KmlStyleUrl,
    KmlPlacemark,
    KmlName,
    KmlPoint,
    KmlLineString,
    KmlLinearRing,
    KmlPolygon,
    KmlInnerBoundary,
    KmlCoordinates,
};

struct LineStyle {
    FixedString id;
    Color colour;
    f32 width;
};
struct PolyStyle {
    FixedString id;
    Color colour;
    u32 fill;
};
struct StyleMap {
    FixedString id;
    FixedString first;
    FixedString second;
    u32 references;
};

struct KmlParser {
    VectorOverlay* overlay;
    u8 stack[kTrackedDepth];  // element kind per open depth
    i32 trackedOpen;          // tracked elements now open
    u32 tooDeep;              // elements of the kinds read, nested past kTrackedDepth, left out
    FixedString stopMessage;  // why the tokenizer stopped before the document's end
    i64 stopPosition;
    // Pass 1.
    FixedString styleId;
    LineStyle lineStyles[kMaxLineStyles];
    u32 lineStyleCount, lineStylesCounted;
    PolyStyle polyStyles[kMaxPolyStyles];
    u32 polyStyleCount, polyStylesCounted;
    StyleMap styleMaps[kMaxStyleMaps];
    u32 styleMapCount;
    u32 markerStylesCounted;
    LineStyle currentLine;
    PolyStyle currentPoly;
    OverlayMarkerStyle currentIcon;
    StyleMap currentMap;
    // Pass 2.
    FixedString placemarkName;
    FixedString styleReference;
    i32 placemarkStyleIndex;
    Color lineColour;
    f32 lineWidth;
    u32 markersCounted, verticesCounted;
    u32 inInnerBoundary;
    u32 ringIgnored;  // an inner ring past the table's room: outline only
    u32 ringInner;    // the ring in hand opened as a hole, its start kept in innerStarts
    u32 filledEnd;    // vertices below this are named by triangles and stay where they are
    u32 polygonLostVertices;
    u32 outerStart;
    u32 innerStarts[kMaxInnerRings];
    u32 innerCount;
    u32 holesCounted;  // inner rings of the polygon in hand, kept or not
    u32 mostHoles;     // the most inner rings one polygon of the file had
    PolygonKdTree tree;
};

bool nameIs(const XmlToken* token, const char* name, i64 length) {
    return token->elementNameLength == length && std::memcmp(token->elementName, name, (size_t)length) == 0;
}

u8 styleElementKind(const XmlToken* t) {
    switch (t->elementNameLength) {
        case 4:
            if (nameIs(t, "Icon", 4)) return KmlIcon;
            if (nameIs(t, "href", 4)) return KmlHref;
            if (nameIs(t, "fill", 4)) return KmlFill;
            break;
        case 5:
            if (nameIs(t, "Style", 5)) return KmlStyle;
            if (nameIs(t, "color", 5)) return KmlColor;
            if (nameIs(t, "width", 5)) return KmlWidth;
            if (nameIs(t, "scale", 5)) return KmlScale;
            break;
        case 7:
            if (nameIs(t, "hotSpot", 7)) return KmlHotSpot;
            break;
        case 8:
            if (nameIs(t, "styleUrl", 8)) return KmlStyleUrl;
            if (nameIs(t, "StyleMap", 8)) return KmlStyleMap;
            break;
        case 9:
            if (nameIs(t, "LineStyle", 9)) return KmlLineStyle;
            if (nameIs(t, "PolyStyle", 9)) return KmlPolyStyle;
            if (nameIs(t, "IconStyle", 9)) return KmlIconStyle;
            break;
        case 17:
            if (nameIs(t, "gx:CascadingStyle", 17)) return KmlStyle;
            break;
    }
    return KmlOther;
}

u8 placemarkElementKind(const XmlToken* t) {
    switch (t->elementNameLength) {
        case 4:
            if (nameIs(t, "name", 4)) return KmlName;
            break;
        case 5:
            if (nameIs(t, "Point", 5)) return KmlPoint;
            break;
        case 7:
            if (nameIs(t, "Polygon", 7)) return KmlPolygon;
            break;
        case 8:
            if (nameIs(t, "styleUrl", 8)) return KmlStyleUrl;
            break;
        case 9:
            if (nameIs(t, "Placemark", 9)) return KmlPlacemark;
            break;
        case 10:
            if (nameIs(t, "LineString", 10)) return KmlLineString;
            if (nameIs(t, "LinearRing", 10)) return KmlLinearRing;
            break;
        case 11:
            if (nameIs(t, "coordinates", 11)) return KmlCoordinates;
            break;
        case 15:
            if (nameIs(t, "innerBoundaryIs", 15)) return KmlInnerBoundary;
            break;
    }
    return KmlOther;
}

// The kind of the element open at a content depth (the element whose text or attribute this is).
u8 enclosing(const KmlParser* p, i32 contentDepth, i32 up = 0) {
    i32 d = contentDepth - 1 - up;
    return d >= 0 && d < kTrackedDepth ? p->stack[d] : (u8)KmlOther;
}

bool isOpen(const KmlParser* p, i32 contentDepth, u8 kind) {
    i32 top = contentDepth < kTrackedDepth ? contentDepth : kTrackedDepth;
    for (i32 d = top - 1; d >= 0; d--) {
        if (p->stack[d] == kind) return true;
    }
    return false;
}

FixedString textAfterFirst(const u8* text, i64 length) {
    if (length < 1) return FixedString{};
    while (length > 1 && (text[length - 1] == ' ' || text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == '\t')) {
        length--;
    }
    return stringFromBytes(text + 1, length - 1);
}

FixedString trimmedDecoded(const u8* text, i64 length) {
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == '\t')) {
        length--;
    }
    FixedString s = stringFromBytes(text, length);
    s.length = decodeXmlEntities((u8*)s.text, s.length);
    return s;
}

void resetIconStyle(OverlayMarkerStyle* style) {
    *style = OverlayMarkerStyle{};
    style->imageIndex = -1;  // no Icon: nothing is drawn
    style->scale = 1.0f;
    style->hotSpotX = 0.5f;
    style->hotSpotY = 0.5f;
    style->xUnits = OverlayUnitsFraction;
    style->yUnits = OverlayUnitsFraction;
}

void storeLineStyle(KmlParser* p, const LineStyle* style) {
    if (p->lineStyleCount < kMaxLineStyles) p->lineStyles[p->lineStyleCount++] = *style;
    p->lineStylesCounted++;
}

void storePolyStyle(KmlParser* p, const PolyStyle* style) {
    if (p->polyStyleCount < kMaxPolyStyles) p->polyStyles[p->polyStyleCount++] = *style;
    p->polyStylesCounted++;
}

void appendMarkerStyle(KmlParser* p, const OverlayMarkerStyle* style) {
    VectorOverlay* o = p->overlay;
    if (o->markerStyleCount < kOverlayMaxMarkerStyles) o->markerStyles[o->markerStyleCount++] = *style;
    p->markerStylesCounted++;
}

i32 imageForHref(VectorOverlay* o, const FixedString* href) {
    for (u32 i = 0; i < o->markerImageCount; i++) {
        if (equals(o->markerImages[i].href, *href)) return (i32)i;
    }
    if (o->markerImageCount >= kOverlayMaxMarkerImages) return -1;
    OverlayMarkerImage* image = &o->markerImages[o->markerImageCount];
    *image = OverlayMarkerImage{};
    image->href = *href;
    image->state = OverlayImageToDownload;
    return (i32)o->markerImageCount++;
}

void styleAttribute(KmlParser* p, const XmlToken* t) {
    u8 element = enclosing(p, t->depth);
    if (element == KmlStyle) {
        if ((t->nameLength == 2 && std::memcmp(t->name, "id", 2) == 0) ||
            (t->nameLength == 6 && std::memcmp(t->name, "kml:id", 6) == 0)) {
            p->styleId = stringFromBytes(t->value, t->valueLength);
        }
    } else if (element == KmlStyleMap) {
        if (t->nameLength == 2 && std::memcmp(t->name, "id", 2) == 0) {
            p->currentMap.id = stringFromBytes(t->value, t->valueLength);
        }
    } else if (element == KmlHotSpot && isOpen(p, t->depth, KmlIconStyle)) {
        i64 position = 0;
        auto value = [&]() {
            position = 0;
            return (f32)parseDouble(t->value, &position, t->valueLength, 0.0);
        };
        auto units = [&](u32* out) {
            if (t->valueLength == 6 && std::memcmp(t->value, "pixels", 6) == 0) *out = OverlayUnitsPixels;
            if (t->valueLength == 8 && std::memcmp(t->value, "fraction", 8) == 0) *out = OverlayUnitsFraction;
        };
        if (t->nameLength == 1 && t->name[0] == 'x') p->currentIcon.hotSpotX = value();
        if (t->nameLength == 1 && t->name[0] == 'y') p->currentIcon.hotSpotY = value();
        if (t->nameLength == 6 && std::memcmp(t->name, "xunits", 6) == 0) units(&p->currentIcon.xUnits);
        if (t->nameLength == 6 && std::memcmp(t->name, "yunits", 6) == 0) units(&p->currentIcon.yUnits);
    }
}

void styleText(KmlParser* p, const XmlToken* t) {
    u8 element = enclosing(p, t->depth);
    u8 parent = enclosing(p, t->depth, 1);
    const u8* text = t->name;
    i64 length = t->nameLength;
    i64 position = 0;
    switch (element) {
        case KmlColor:
            if (parent == KmlLineStyle) {
                p->currentLine.colour = (Color)parseHex(text, &position, length, 0xFFFFFFFF);
            } else if (parent == KmlPolyStyle) {
                p->currentPoly.colour = (Color)parseHex(text, &position, length, 0xFFFFFFFF);
            }
            break;
        case KmlWidth:
            if (parent == KmlLineStyle) p->currentLine.width = (f32)parseDouble(text, &position, length, 0.0);
            break;
        case KmlFill:
            if (parent == KmlPolyStyle) p->currentPoly.fill = (u32)parseInteger(text, &position, length, 0);
            break;
        case KmlScale:
            if (parent == KmlIconStyle) p->currentIcon.scale = (f32)parseDouble(text, &position, length, 0.0);
            break;
        case KmlHref:
            if (parent == KmlIcon && isOpen(p, t->depth, KmlIconStyle)) {
                FixedString href = trimmedDecoded(text, length);
                p->currentIcon.imageIndex = imageForHref(p->overlay, &href);
            }
            break;
        case KmlStyleUrl:
            if (isOpen(p, t->depth, KmlStyleMap)) {
                StyleMap* map = &p->currentMap;
                if (map->references == 0) map->first = textAfterFirst(text, length);
                if (map->references == 1) map->second = textAfterFirst(text, length);
                map->references++;
            }
            break;
        default:
            break;
    }
}

void styleOpen(KmlParser* p, u8 kind) {
    switch (kind) {
        case KmlLineStyle:
            p->currentLine = LineStyle{p->styleId, 0xFFFFFFFF, 3.0f};
            break;
        case KmlPolyStyle:
            p->currentPoly = PolyStyle{p->styleId, 0x77FFFFFF, 1};
            break;
        case KmlIconStyle:
            resetIconStyle(&p->currentIcon);
            break;
        case KmlStyleMap:
            p->currentMap = StyleMap{};
            p->currentLine = LineStyle{FixedString{}, 0xFFFFFFFF, 3.0f};
            p->currentPoly = PolyStyle{FixedString{}, 0x77FFFFFF, 1};
            break;
        default:
            break;
    }
}

void styleClose(KmlParser* p, u8 kind) {
    switch (kind) {
        case KmlLineStyle:
            storeLineStyle(p, &p->currentLine);
            break;
        case KmlPolyStyle:
            storePolyStyle(p, &p->currentPoly);
            break;
        case KmlIconStyle:
            p->currentIcon.id = p->styleId;
            appendMarkerStyle(p, &p->currentIcon);
            resetIconStyle(&p->currentIcon);
            break;
        case KmlStyleMap:
            if (p->lineStyleCount < kMaxLineStyles && p->styleMapCount < kMaxStyleMaps &&
                p->polyStyleCount < kMaxPolyStyles) {
                p->styleMaps[p->styleMapCount++] = p->currentMap;
                LineStyle line{p->currentMap.id, 0xFFFFFFFF, 3.0f};
                PolyStyle poly{p->currentMap.id, 0x77FFFFFF, 1};
                storeLineStyle(p, &line);
                storePolyStyle(p, &poly);
            }
            break;
        default:
            break;
    }
}

void resolveStyleMaps(KmlParser* p) {
    VectorOverlay* o = p->overlay;
    for (u32 m = 0; m < p->styleMapCount; m++) {
        const StyleMap* map = &p->styleMaps[m];
        u32 present = o->markerStyleCount;
        for (u32 s = 0; s < present; s++) {
            if (!equals(o->markerStyles[s].id, map->first)) continue;
            OverlayMarkerStyle copy = o->markerStyles[s];
            copy.id = map->id;
            appendMarkerStyle(p, &copy);
        }
        const LineStyle* line = nullptr;
        for (u32 i = 0; i < p->lineStyleCount; i++) {
            if (equals(p->lineStyles[i].id, map->first)) line = &p->lineStyles[i];
        }
        const PolyStyle* poly = nullptr;
        for (u32 i = 0; i < p->polyStyleCount; i++) {
            if (equals(p->polyStyles[i].id, map->first)) poly = &p->polyStyles[i];
        }
        for (u32 i = 0; i < p->lineStyleCount; i++) {
            if (line && equals(p->lineStyles[i].id, map->id)) p->lineStyles[i].colour = line->colour;
        }
        for (u32 i = 0; i < p->polyStyleCount; i++) {
            if (poly && equals(p->polyStyles[i].id, map->id)) p->polyStyles[i].colour = poly->colour;
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Pass 2: geometry

void addSegment(KmlParser* p, Vec2 a, Vec2 b) {
    appendOverlayLineSegment(p->overlay, OverlayLineSegment{a.x, a.y, b.x, b.y, p->lineColour, p->lineWidth});
}

void addVertex(KmlParser* p, Vec2 v) {
    VectorOverlay* o = p->overlay;
    if (o->polygonVertexCount < kOverlayMaxPolygonVertices) {
        o->polygonVertices[o->polygonVertexCount++] = v;
    } else {
        p->polygonLostVertices = 1;
    }
    p->verticesCounted++;
}

void addPoint(KmlParser* p, Vec2 v) {
    VectorOverlay* o = p->overlay;
    if (o->markerCount < kOverlayMaxMarkers) {
        OverlayMarker* marker = &o->markers[o->markerCount++];
        marker->styleIndex = p->placemarkStyleIndex;
        marker->styleReference = p->styleReference;
        marker->x = v.x;
        marker->y = v.y;
        marker->name = p->placemarkName;
        marker->nearest = 1.0;
    }
    p->markersCounted++;
}

inline bool isSeparator(u8 c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ','; }

// Tuples "lon,lat[,alt]" separated by white space (space, tab, CR, LF).
void readCoordinates(KmlParser* p, u8 geometry, const u8* text, i64 length) {
    i64 position = 0;
    u32 tuples = 0;
    Vec2 previous{};
    while (position < length) {
        while (position < length && isSeparator(text[position])) position++;
        if (position >= length) break;
        i64 start = position;
        f64 longitude = parseDouble(text, &position, length, 181.0);
        f64 latitude = 91.0;
        if (position < length && text[position] == ',') {
            position++;
            latitude = parseDouble(text, &position, length, 91.0);
            if (position < length && text[position] == ',') {
                position++;
                parseDouble(text, &position, length, 0.0);
            }
        }
        // Whatever else the tuple holds is passed over.
        while (position < length && !(text[position] == ' ' || text[position] == '\n' || text[position] == '\r' ||
                                      text[position] == '\t')) {
            position++;
        }
        if (position == start) position++;
        if (longitude == 181.0 || latitude == 91.0 || !std::isfinite(longitude) || !std::isfinite(latitude)) continue;
        latitude = std::clamp(latitude, -89.999999, 89.999999);
        Vec2 v{wrapLongitudeTurns(longitude, 0.0), std::log(std::tan(latitude * kPi / 360.0 + kPi / 4)) / (2 * kPi)};
        if (geometry == KmlPoint) {
            if (tuples == 0) addPoint(p, v);
        } else {
            if (tuples > 0) addSegment(p, previous, v);
            if (geometry == KmlLinearRing && !p->ringIgnored) addVertex(p, v);
        }
        previous = v;
        tuples++;
    }
}

void openLine(KmlParser* p) {
    p->lineColour = 0xFFFFFFFF;
    p->lineWidth = 1.0f;
    if (p->styleReference.length == 0) return;
    for (u32 i = 0; i < p->lineStyleCount; i++) {
        if (equals(p->lineStyles[i].id, p->styleReference)) {
            p->lineColour = p->lineStyles[i].colour;
            p->lineWidth = p->lineStyles[i].width;
        }
    }
}

bool samePoint(Vec2 a, Vec2 b) { return a.x == b.x && a.y == b.y; }

// Joining holes to the ring around them. The outer ring runs clockwise and the holes
// counter-clockwise, so the filled side lies right of every edge. Holes are joined one at a time,
// the one reaching farthest east first: a ray from its easternmost vertex eastwards meets only the
// ring joined so far (every hole still to come lies west of it), and the vertex of the ring that
// the hole's vertex sees through that ray becomes the join. A join therefore crosses no ring.
// The ring is the vertices v[start .. end - 1], closed from the last back to the first.
struct RingView {
    const Vec2* v;
    u32 start, end;
    u32 next(u32 i) const { return i + 1 < end ? i + 1 : start; }
    u32 previous(u32 i) const { return i > start ? i - 1 : end - 1; }
};

// Twice the signed area of pqr, positive when r lies right of p->q.
f64 turn(Vec2 p, Vec2 q, Vec2 r) { return (q.y - p.y) * (r.x - q.x) - (q.x - p.x) * (r.y - q.y); }

bool inTriangle(Vec2 a, Vec2 b, Vec2 c, Vec2 p) {
    f64 d1 = turn(a, b, p), d2 = turn(b, c, p), d3 = turn(c, a, p);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

// Whether the diagonal from ring vertex a towards point b leaves a into the filled side: between its
// edges at a convex corner, not between them at a reflex one.
bool locallyInside(const RingView& r, u32 a, Vec2 b) {
    Vec2 before = r.v[r.previous(a)], at = r.v[a], after = r.v[r.next(a)];
    if (turn(before, at, after) > 0) return turn(at, b, after) <= 0 && turn(at, before, b) <= 0;
    return turn(at, b, before) > 0 || turn(at, after, b) > 0;
}

// Whether the corner at candidate p lies within the corner at m (both copies of one point, left by
// an earlier join): a hole joined there must go into the corner it can see.
bool cornerWithinCorner(const RingView& r, u32 m, u32 p) {
    return turn(r.v[r.previous(m)], r.v[m], r.v[r.previous(p)]) > 0 &&
           turn(r.v[r.next(p)], r.v[m], r.v[r.previous(m)]) > 0;
}

// The ring vertex that the hole's easternmost vertex h sees, or end when none.
u32 findJoin(const RingView& r, Vec2 h) {
    // The nearest edge east of h that the eastward ray meets going from the filled side out.
    f64 nearest = INFINITY;
    u32 m = r.end;
    for (u32 i = r.start; i < r.end; i++) {
        Vec2 a = r.v[i], b = r.v[r.next(i)];
        if (!(h.y <= a.y && h.y >= b.y && a.y != b.y)) continue;
        f64 x = a.x + (h.y - a.y) * (b.x - a.x) / (b.y - a.y);
        if (x >= h.x && x < nearest) {
            nearest = x;
            m = a.x > b.x ? i : r.next(i);
            if (x == h.x) return m;  // the hole touches the edge
        }
    }
    if (m == r.end) return m;
    // A vertex inside the triangle of h, the ray's hit and m would block the view: the one seen at
    // the smallest angle from the ray is taken instead.
    Vec2 hit{nearest, h.y}, mPoint = r.v[m];
    f64 smallest = INFINITY;
    u32 stop = m;
    u32 i = m;
    do {
        Vec2 q = r.v[i];
        if (h.x <= q.x && q.x <= mPoint.x && h.x != q.x && inTriangle(h, hit, mPoint, q)) {
            f64 tangent = std::fabs(h.y - q.y) / (q.x - h.x);
            if (locallyInside(r, i, h) &&
                (tangent < smallest ||
                 (tangent == smallest && (q.x < r.v[m].x || (q.x == r.v[m].x && cornerWithinCorner(r, m, i)))))) {
                m = i;
                smallest = tangent;
            }
        }
        i = r.next(i);
    } while (i != stop);
    return m;
}

// The hole's easternmost vertex (the southernmost of equals) among v[s .. e - 1].
u32 easternmost(const Vec2* v, u32 s, u32 e) {
    u32 best = s;
    for (u32 i = s + 1; i < e; i++) {
        if (v[i].x > v[best].x || (v[i].x == v[best].x && v[i].y < v[best].y)) best = i;
    }
    return best;
}

void closeRing(KmlParser* p) {
    VectorOverlay* o = p->overlay;
    if (p->ringIgnored) return;
    if (p->ringInner) {
        // A hole ends where it began: one left open is closed, so that it can be joined whole.
        u32 start = p->innerStarts[p->innerCount];
        if (o->polygonVertexCount > start && !samePoint(o->polygonVertices[o->polygonVertexCount - 1],
                                                        o->polygonVertices[start])) {
            addVertex(p, o->polygonVertices[start]);
        }
        return;
    }
    if (o->polygonVertexCount > p->outerStart + 1 && o->polygonVertexCount > p->filledEnd) {
        Vec2 last = o->polygonVertices[o->polygonVertexCount - 1];
        if (samePoint(last, o->polygonVertices[p->outerStart])) o->polygonVertexCount--;
    }
}

void closePolygon(KmlParser* p) {
    VectorOverlay* o = p->overlay;
    Vec2* v = o->polygonVertices;
    u32 end = o->polygonVertexCount;
    u32 outerEnd = p->innerCount > 0 ? p->innerStarts[0] : end;
    if (p->polygonLostVertices || outerEnd < p->outerStart + 3 || outerEnd > end) return;
    // Rings follow one another, each hole closed and with its reserved slot; elements nested out of
    // order can leave starts that do not, and such a polygon keeps its outline only.
    for (u32 k = 0; k < p->innerCount; k++) {
        u32 next = k + 1 < p->innerCount ? p->innerStarts[k + 1] : end;
        u32 previous = k > 0 ? p->innerStarts[k - 1] + 1 : outerEnd;
        if (p->innerStarts[k] < previous || next < p->innerStarts[k] + 1 || next > end) return;
    }
    // Outer ring clockwise, holes counter-clockwise; each hole starts (and ends) at its easternmost
    // vertex, where it will be joined.
    if (!isPolygonClockwise(v + p->outerStart, (i32)(outerEnd - p->outerStart))) {
        std::reverse(v + p->outerStart, v + outerEnd);
    }
    u32 lengths[kMaxInnerRings];
    for (u32 k = 0; k < p->innerCount; k++) {
        u32 s = p->innerStarts[k];
        u32 e = (k + 1 < p->innerCount ? p->innerStarts[k + 1] : end) - 1;  // the closing vertex's place + 1
        lengths[k] = e + 1 - s;
        if (e < s + 4) continue;  // fewer than three corners: left out below
        u32 corners = e - 1 - s;  // without the closing vertex
        if (isPolygonClockwise(v + s, (i32)corners)) std::reverse(v + s, v + s + corners);
        std::rotate(v + s, v + easternmost(v, s, s + corners), v + s + corners);
        v[e - 1] = v[s];
    }
    // Joins, easternmost hole first: it is moved to follow the ring joined so far, then spliced in
    // as ..., C, the hole from its easternmost vertex round to it again, C, the vertices after C, ...
    u32 joinedEnd = outerEnd;
    u32 remaining = p->innerCount;
    while (remaining > 0) {
        u32 best = 0, bestStart = joinedEnd, at = joinedEnd;
        for (u32 k = 0; k < remaining; k++) {
            Vec2 candidate = v[at], chosen = v[bestStart];
            if (k == 0 || candidate.x > chosen.x || (candidate.x == chosen.x && candidate.y < chosen.y)) {
                best = k;
                bestStart = at;
            }
            at += lengths[k];
        }
        u32 length = lengths[best];
        std::rotate(v + joinedEnd, v + bestStart, v + bestStart + length);
        for (u32 k = best; k > 0; k--) lengths[k] = lengths[k - 1];
        lengths[0] = length;
        RingView ring{v, p->outerStart, joinedEnd};
        u32 join = length >= 5 ? findJoin(ring, v[joinedEnd]) : ring.end;  // three corners at least
        if (join == ring.end) {
            // Seen from nowhere (a hole outside the ring, or degenerate): it is left out of the fill.
            std::rotate(v + joinedEnd, v + joinedEnd + length, v + end);
            end -= length;
        } else {
            u32 holeEnd = joinedEnd + length - 1;  // the reserved slot
            v[holeEnd] = v[join];
            std::rotate(v + join + 1, v + joinedEnd, v + holeEnd + 1);
            joinedEnd += length;
        }
        for (u32 k = 0; k + 1 < remaining; k++) lengths[k] = lengths[k + 1];
        remaining--;
    }
    // Fill by the last poly style of the placemark's style; none: transparent.
    const PolyStyle* style = nullptr;
    for (u32 i = 0; i < p->polyStyleCount && p->styleReference.length; i++) {
        if (equals(p->polyStyles[i].id, p->styleReference)) style = &p->polyStyles[i];
    }
    if (style && style->fill == 0) return;
    Color fill = style ? style->colour : 0;
    u32 ringVertices = end - p->outerStart;
    if ((u64)o->triangleCount + ringVertices - 2 >= kOverlayMaxTriangles) return;
    if (end >= kKdTreeSlots) return;  // triangles index the vertices with 16 bits
    buildKdTree(v, end, &p->tree, p->outerStart);
    i32 before = (i32)o->triangleCount;
    i32 after = triangulatePolygon(v, (i32)end, 1, o->triangles, before, (i32)kOverlayMaxTriangles, p->outerStart,
                                   &p->tree);
    for (i32 t = before; t < after; t++) o->triangleColours[t] = fill;
    o->triangleCount = (u32)after;
    p->filledEnd = o->polygonVertexCount;
}

void placemarkOpen(KmlParser* p, u8 kind, i32 depth) {
    VectorOverlay* o = p->overlay;
    switch (kind) {
        case KmlPlacemark:
            p->placemarkName = FixedString{};
            p->styleReference = FixedString{};
            p->placemarkStyleIndex = 0;
            break;
        case KmlLineString:
            openLine(p);
            break;
        case KmlLinearRing:
            openLine(p);
            p->ringIgnored = 0;
            p->ringInner = 0;
            if (p->inInnerBoundary) {
                if (++p->holesCounted > p->mostHoles) p->mostHoles = p->holesCounted;
                if (p->innerCount < kMaxInnerRings) {
                    p->innerStarts[p->innerCount] = o->polygonVertexCount;
                    p->ringInner = 1;
                } else {
                    p->ringIgnored = 1;
                }
            } else {
                (void)depth;
            }
            break;
        case KmlPolygon:
            p->outerStart = o->polygonVertexCount;
            p->innerCount = 0;
            p->holesCounted = 0;
            p->polygonLostVertices = 0;
            break;
        case KmlInnerBoundary:
            p->inInnerBoundary = 1;
            break;
        default:
            break;
    }
}

void placemarkClose(KmlParser* p, u8 kind) {
    VectorOverlay* o = p->overlay;
    switch (kind) {
        case KmlPlacemark:
            p->styleReference = FixedString{};
            break;
        case KmlLinearRing:
            closeRing(p);
            if (p->ringInner && !p->ringIgnored) {
                if (o->polygonVertexCount < kOverlayMaxPolygonVertices) {
                    o->polygonVertices[o->polygonVertexCount++] = Vec2{};
                } else {
                    p->polygonLostVertices = 1;
                }
                p->innerCount++;
            }
            p->ringIgnored = 0;
            break;
        case KmlPolygon:
            closePolygon(p);
            p->innerCount = 0;
            break;
        case KmlInnerBoundary:
            p->inInnerBoundary = 0;
            break;
        default:
            break;
    }
}

void placemarkText(KmlParser* p, const XmlToken* t) {
    u8 element = enclosing(p, t->depth);
    u8 parent = enclosing(p, t->depth, 1);
    if (element == KmlName && parent == KmlPlacemark) {
        i64 position = 0;
        readRestAsString(&p->placemarkName, t->name, &position, t->nameLength);
        p->placemarkName.length = decodeXmlEntities((u8*)p->placemarkName.text, p->placemarkName.length);
    } else if (element == KmlStyleUrl && parent == KmlPlacemark) {
        p->styleReference = textAfterFirst(t->name, t->nameLength);
        VectorOverlay* o = p->overlay;
        for (u32 i = 0; i < o->markerStyleCount; i++) {
            if (equals(o->markerStyles[i].id, p->styleReference)) {
                p->placemarkStyleIndex = (i32)i;
                break;
            }
        }
    } else if (element == KmlCoordinates && (parent == KmlPoint || parent == KmlLineString || parent == KmlLinearRing)) {
        readCoordinates(p, parent, t->name, t->nameLength);
    }
}

// One pass over the document; false when it ended inside a tracked element.
bool runPass(KmlParser* p, const u8* text, i64 length, u32 pass) {
    XmlReader reader{};
    reader.text = text;
    reader.length = length;
    XmlToken token;
    p->trackedOpen = 0;
    for (;;) {
        nextXmlToken(&token, &reader);
        if (token.kind == XmlEnd) {
            if (token.message.length) {
                p->stopMessage = token.message;
                p->stopPosition = reader.position;
            }
            break;
        }
        switch (token.kind) {
            case XmlElementOpen: {
                u8 kind = pass == 1 ? styleElementKind(&token) : placemarkElementKind(&token);
                if (token.depth >= 0 && token.depth < kTrackedDepth) {
                    p->stack[token.depth] = kind;
                } else {
                    if (kind != KmlOther && pass == 2) p->tooDeep++;
                    kind = KmlOther;
                }
                if (kind != KmlOther) p->trackedOpen++;
                if (pass == 1) {
                    styleOpen(p, kind);
                } else {
                    placemarkOpen(p, kind, token.depth);
                }
                break;
            }
            case XmlElementClose: {
                u8 kind = token.depth >= 0 && token.depth < kTrackedDepth ? p->stack[token.depth] : (u8)KmlOther;
                if (token.depth >= 0 && token.depth < kTrackedDepth) p->stack[token.depth] = KmlOther;
                if (kind != KmlOther) p->trackedOpen--;
                if (pass == 1) {
                    styleClose(p, kind);
                } else {
                    placemarkClose(p, kind);
                }
                break;
            }
            case XmlAttribute:
                if (pass == 1) styleAttribute(p, &token);
                break;
            case XmlText:
                if (pass == 1) {
                    styleText(p, &token);
                } else {
                    placemarkText(p, &token);
                }
                break;
            default:
                break;
        }
    }
    return p->trackedOpen <= 0;
}

void setNearestDistances(VectorOverlay* o) {
    for (u32 i = 0; i < o->markerCount; i++) {
        f64 nearestSquared = o->markers[i].nearest * o->markers[i].nearest;
        for (u32 j = 0; j < o->markerCount; j++) {
            if (j == i) continue;
            f64 dx = o->markers[j].x - o->markers[i].x, dy = o->markers[j].y - o->markers[i].y;
            f64 d = dx * dx + dy * dy;
            if (d < nearestSquared) nearestSquared = d;
        }
        o->markers[i].nearest = std::sqrt(nearestSquared);
    }
}

void markUnusedImages(VectorOverlay* o) {
    for (u32 i = 0; i < o->markerImageCount; i++) {
        bool used = false;
        for (u32 m = 0; m < o->markerCount && !used; m++) {
            i32 s = o->markers[m].styleIndex;
            used = s >= 0 && (u32)s < o->markerStyleCount && o->markerStyles[s].imageIndex == (i32)i;
        }
        if (!used) o->markerImages[i].state = OverlayImageUnused;
    }
}

// The line (from 1) of a byte position.
i64 lineOf(const u8* text, i64 length, i64 position) {
    i64 line = 1;
    for (i64 i = 0; i < position && i < length; i++) line += text[i] == '\n';
    return line;
}

void setCapacityWarning(VectorOverlay* o, const KmlParser* p) {
    if (o->message.length) return;
    o->message = overlayLinesShownText(o);
    if (o->message.length) return;
    if (p->tooDeep) {
        o->message = formatInt("Elements nested deeper than 256 levels were left out (@ of them)", p->tooDeep);
        return;
    }
    struct Check {
        const char* text;
        u32 counted;
        u32 capacity;
    };
    const Check checks[] = {
        {"File contained @ marker styles but our buffer can only hold @", p->markerStylesCounted, kOverlayMaxMarkerStyles},
        {"File contained @ line styles but our buffer can only hold @", p->lineStylesCounted, kMaxLineStyles},
        {"File contained @ poly styles but our buffer can only hold @", p->polyStylesCounted, kMaxPolyStyles},
        {"File contained @ markers but our buffer can only hold @", p->markersCounted, kOverlayMaxMarkers},
        {"File contained @ polygon vertices but our buffer can only hold @", p->verticesCounted,
         kOverlayMaxPolygonVertices},
        // Holes past the room are drawn as outlines, and their polygon is filled over them.
        {"File contained a polygon with @ holes but our buffer can only hold @", p->mostHoles, kMaxInnerRings},
    };
    for (const Check& check : checks) {
        if (check.counted > check.capacity) {
            o->message = formatIntInt(check.text, check.counted, check.capacity);
            return;
        }
    }
}

}  // namespace

void clearVectorOverlay(VectorOverlay* overlay) {
    // Every record is written whole before its count takes it in, so the counts and the message are
    // all that a fresh overlay needs (the 60 MB of tables are left as they are).
    overlay->lineSegmentCount = overlay->lineSegmentsInFile = overlay->markerStyleCount = overlay->markerCount = 0;
    overlay->pixelWordCount = overlay->markerImageCount = overlay->triangleCount = overlay->polygonVertexCount = 0;
    overlay->message = FixedString{};
}

FixedString parseKmlDocument(const u8* text, i64 length, VectorOverlay* overlay) {
    clearVectorOverlay(overlay);
    // About 330 KiB of parser state (the k-d tree included) on the caller's stack.
    KmlParser parser;
    std::memset((void*)&parser, 0, sizeof(parser));
    KmlParser* p = &parser;
    p->overlay = overlay;
    resetIconStyle(&p->currentIcon);
    // A document cut short still gives what stands before the cut: both passes run to it.
    bool whole = runPass(p, text, length, 1);
    resolveStyleMaps(p);
    std::memset(p->stack, 0, sizeof(p->stack));
    whole = runPass(p, text, length, 2) && whole;
    setNearestDistances(overlay);
    markUnusedImages(overlay);
    if (p->stopMessage.length) {
        overlay->message = formatIntStr("Stopped reading at line @: @", lineOf(text, length, p->stopPosition),
                                        p->stopMessage);
    }
    setCapacityWarning(overlay, p);
    return whole ? FixedString{} : makeString("Truncated file");
}
