// canvas.cpp: the port layer's browser back end: the page's canvas is the
// window, its DOM mouse and pointer events the input, performance.now() the
// clock.
//
// Input: the mouse through its own DOM events, as SDL 1.2 gives it on X11
// (a button pressed over the canvas grabs the pointer until its release).
// A finger or a pen (pointer events) is the left button held: putting it
// down presses, moving it is motion with SDL_BUTTON(SDL_BUTTON_LEFT) in the
// held mask, lifting it (or the browser cancelling it) releases. The first
// finger or pen down alone counts until it is lifted; it is ignored while
// the mouse holds the left button. The canvas takes no touch gestures: the
// page neither scrolls nor zooms under a finger, by every means a browser
// offers, since some (iOS Safari at times) heed one and not another:
// touch-action: none, non-passive touch listeners that cancel each touch's
// default, and WebKit's gesture events (pinch, rotate) cancelled too.
// Positions map from the canvas's box on the page, whatever its scale, to
// surface pixels, clamped to the surface.
//
// Input waits in `pending` until the port layer has room for it (port_room),
// so none is lost however much arrives between two frames: past
// SDL_MAXEVENTS records a motion merges into a motion just before it with
// the same held buttons (the later position kept, the moves summed), and
// buttons are always kept. So `pending` holds at most SDL_MAXEVENTS records
// and two for each button since the last pump.
//
// Presenting: canvas_present copies the rectangle into `shown` (module
// memory) with every pixel opaque, noting the band of rows where it changed
// anything, and hands the canvas that band alone, through an ImageData that
// views `shown` in place, so no other copy is made. A present that changes
// nothing puts nothing: the canvas keeps its picture, and the browser has
// nothing to paint or composite (in WebKit without a GPU, a put and its
// compositing cost more than the frame's own work). Should the browser drop
// the canvas's picture (a lost and restored context), the next present
// puts all of it. The 2D context is desynchronized: the browser shows each
// present without waiting for the page's next rendering, which costs the
// main thread far less a frame.
//
// The JavaScript half keeps its state in Module.sdlWeb: the canvas, its 2D
// context and the ImageData over `shown` (made again when the module's
// memory grows and moves), the surface's size as C gave it (`width`,
// `height`: every read of `shown` and every position is bounded by it, and
// a canvas some other script resized is set back to it), the input not yet
// pumped (`pending`), the held buttons, and `frames`, the number of presents
// so far (which tests and tools may read).
#include "backend.h"

#include <emscripten.h>

#include <cstdlib>
#include <cstring>

// The canvas's byte order is R, G, B, A: the surface's masks put red lowest.
static const Uint32 RED_MASK = 0x000000FFu, GREEN_MASK = 0x0000FF00u, BLUE_MASK = 0x00FF0000u;
// The canvas's alpha byte, set on every presented pixel.
static const Uint32 OPAQUE = 0xFF000000u;
static const uint64_t OPAQUE_PAIR = static_cast<uint64_t>(OPAQUE) << 32 | OPAQUE;
// Numbers in one input record passed from JavaScript: type, button, held
// buttons' mask (motion only), x, y, xrel, yrel.
static const int EVENT_FIELDS = 7;
static const int BYTES_PER_PIXEL = 4;
static const char *const DRIVER_NAME = "canvas";

static double start_ms = 0;     // performance.now() at backend_start
static Uint32 *shown = nullptr; // the canvas's picture, opaque, row-major
static int shown_w = 0;         // its width in pixels

// clang-format off
// Listens to the canvas's mouse; pending records carry the event types given,
// and are read back `fields` numbers a record.
EM_JS(int, web_canvas_open, (int width, int height, int fields, int queue_length,
                             int motion_type, int down_type, int up_type), {
    var canvas = Module.canvas || document.getElementById('canvas');
    if (!canvas)
        return 0;
    canvas.width = width;
    canvas.height = height;
    var context = canvas.getContext('2d', {desynchronized: true});
    if (!context)
        return 0;
    var s = {canvas: canvas, context: context, image: null, width: width, height: height,
             fields: fields, pending: [], held: 0, lastX: 0, lastY: 0, frames: 0, listeners: [],
             stale: false};
    function push(record) {
        var last = s.pending[s.pending.length - 1];
        if (s.pending.length >= queue_length && record[0] === motion_type && last &&
            last[0] === motion_type && last[2] === record[2]) {
            last[3] = record[3];
            last[4] = record[4];
            last[5] += record[5];
            last[6] += record[6];
        } else {
            s.pending.push(record);
        }
    }
    function inside(e) {
        var r = canvas.getBoundingClientRect();
        return e.clientX >= r.left && e.clientX < r.right && e.clientY >= r.top && e.clientY < r.bottom;
    }
    function at(e) {
        var r = canvas.getBoundingClientRect();
        var x = Math.floor((e.clientX - r.left) * s.width / r.width) || 0;
        var y = Math.floor((e.clientY - r.top) * s.height / r.height) || 0;
        return [Math.min(Math.max(x, 0), s.width - 1), Math.min(Math.max(y, 0), s.height - 1)];
    }
    // DOM buttons 0 (main), 1 (middle), 2 (secondary) are SDL's 1 (left), 2 (middle), 3 (right).
    function button(e) { return e.button === 0 ? 1 : e.button === 1 ? 2 : e.button === 2 ? 3 : 0; }
    function listen(target, type, handler, options) {
        target.addEventListener(type, handler, options);
        s.listeners.push([target, type, handler, options]);
    }
    listen(canvas, 'mousedown', function(e) {
        var b = button(e);
        if (!b)
            return;
        e.preventDefault();
        var p = at(e);
        s.held |= 1 << (b - 1);
        push([down_type, b, 0, p[0], p[1], 0, 0]);
    });
    listen(window, 'mouseup', function(e) {
        var b = button(e);
        if (!b || !(s.held & (1 << (b - 1))))
            return;
        s.held &= ~(1 << (b - 1));
        var p = at(e);
        push([up_type, b, 0, p[0], p[1], 0, 0]);
    });
    listen(window, 'mousemove', function(e) {
        if (!s.held && !inside(e))
            return;
        var p = at(e);
        push([motion_type, 0, s.held, p[0], p[1], p[0] - s.lastX, p[1] - s.lastY]);
        s.lastX = p[0];
        s.lastY = p[1];
    });
    // Finger and pen: pointerId of the one that counts, or null; it holds SDL's left button.
    var touching = null;
    var LEFT = 1, LEFT_MASK = 1 << (LEFT - 1);
    listen(canvas, 'pointerdown', function(e) {
        if (e.pointerType === 'mouse')
            return;
        e.preventDefault(); // no compatibility mouse events
        if (touching !== null || s.held & LEFT_MASK)
            return;
        touching = e.pointerId;
        canvas.setPointerCapture(e.pointerId);
        var p = at(e);
        s.held |= LEFT_MASK;
        push([down_type, LEFT, 0, p[0], p[1], 0, 0]);
        s.lastX = p[0];
        s.lastY = p[1];
    });
    listen(canvas, 'pointermove', function(e) {
        if (e.pointerId !== touching)
            return;
        var p = at(e);
        push([motion_type, 0, s.held, p[0], p[1], p[0] - s.lastX, p[1] - s.lastY]);
        s.lastX = p[0];
        s.lastY = p[1];
    });
    function lift(e) {
        if (e.pointerId !== touching)
            return;
        touching = null;
        s.held &= ~LEFT_MASK;
        var p = at(e);
        push([up_type, LEFT, 0, p[0], p[1], 0, 0]);
    }
    listen(canvas, 'pointerup', lift);
    listen(canvas, 'pointercancel', lift);
    listen(canvas, 'contextrestored', function() { s.stale = true; });
    canvas.style.touchAction = 'none';
    function cancel(e) { e.preventDefault(); }
    ['touchstart', 'touchmove', 'touchend', 'touchcancel', 'gesturestart', 'gesturechange', 'gestureend']
        .forEach(function(type) { listen(canvas, type, cancel, {passive: false}); });
    listen(canvas, 'contextmenu', function(e) { e.preventDefault(); });
    Module.sdlWeb = s;
    return 1;
});

EM_JS(void, web_canvas_close, (), {
    var s = Module.sdlWeb;
    if (!s)
        return;
    s.listeners.forEach(function(l) { l[0].removeEventListener(l[1], l[2], l[3]); });
    s.listeners = [];
    s.pending = [];
});

// Shows the rectangle of `shown` (pixels, the surface's size, opaque; 4
// bytes a pixel), or nothing when it is empty, and counts a present either
// way; all of `shown` once the canvas lost its picture or its size.
EM_JS(void, web_present, (const Uint32 *pixels, int x, int y, int w, int h), {
    var s = Module.sdlWeb;
    var width = s.width, height = s.height, bytes = width * height * 4;
    if (s.canvas.width !== width || s.canvas.height !== height) {
        s.canvas.width = width;
        s.canvas.height = height;
        s.stale = true;
    }
    if (!s.image || s.image.data.buffer !== HEAPU8.buffer || s.image.data.byteOffset !== pixels)
        s.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, pixels, bytes), width, height);
    x = Math.min(Math.max(x, 0), width);
    y = Math.min(Math.max(y, 0), height);
    w = Math.min(w, width - x);
    h = Math.min(h, height - y);
    if (s.stale) {
        s.stale = false;
        s.context.putImageData(s.image, 0, 0);
    } else if (w > 0 && h > 0) {
        s.context.putImageData(s.image, 0, 0, x, y, w, h);
    }
    s.frames++;
});

// Takes the oldest pending record into record, `fields` ints (missing ones 0).
EM_JS(int, web_next_event, (int *record), {
    var s = Module.sdlWeb;
    if (!s || !s.pending.length)
        return 0;
    var fields = s.pending.shift();
    for (var i = 0; i < s.fields; i++)
        HEAP32[(record >> 2) + i] = fields[i] | 0;
    return 1;
});

EM_JS(void, web_set_title, (const char *title), {
    document.title = UTF8ToString(title);
});
// clang-format on

int backend_start()
{
    start_ms = emscripten_get_now();
    return 1;
}

void backend_stop() {}

backend_masks backend_channels()
{
    return backend_masks{RED_MASK, GREEN_MASK, BLUE_MASK};
}

static int canvas_open(int width, int height)
{
    // The port layer made the surface first: width * height * 4 fits in an int.
    shown =
        static_cast<Uint32 *>(std::calloc(static_cast<size_t>(width) * height, BYTES_PER_PIXEL));
    if (!shown) {
        port_set_error("out of memory for the display surface");
        return 0;
    }
    if (!web_canvas_open(width, height, EVENT_FIELDS, SDL_MAXEVENTS, SDL_MOUSEMOTION,
                         SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP)) {
        std::free(shown);
        shown = nullptr;
        port_set_error("the page has no canvas with a 2D context");
        return 0;
    }
    shown_w = width;
    return 1;
}

static void canvas_close()
{
    web_canvas_close();
    std::free(shown);
    shown = nullptr;
}

static void canvas_set_caption(const char *title)
{
    web_set_title(title);
}

static void canvas_present(const void *pixels, int pitch, int x, int y, int w, int h)
{
    // The band of rows first..last that this present changes; none while first > last.
    int first = y + h, last = y - 1;
    for (int row = y; row < y + h; row++) {
        const Uint8 *from = static_cast<const Uint8 *>(pixels) + row * pitch;
        Uint32 *to = shown + row * shown_w;
        // Any bit set where the row differs. Two pixels a step, as one 64-bit word (the
        // browser's WebAssembly has no vectors), then the odd one.
        uint64_t changed = 0;
        int column = x;
        for (; column + 2 <= x + w; column += 2) {
            uint64_t pair, before;
            std::memcpy(&pair, from + column * BYTES_PER_PIXEL, sizeof pair);
            std::memcpy(&before, to + column, sizeof before);
            pair |= OPAQUE_PAIR;
            changed |= pair ^ before;
            std::memcpy(to + column, &pair, sizeof pair);
        }
        for (; column < x + w; column++) {
            Uint32 pixel;
            std::memcpy(&pixel, from + column * BYTES_PER_PIXEL, sizeof pixel);
            pixel |= OPAQUE;
            changed |= pixel ^ to[column];
            to[column] = pixel;
        }
        if (changed) {
            first = first < row ? first : row;
            last = row;
        }
    }
    web_present(shown, x, first, w, last - first + 1);
}

static void canvas_pump()
{
    int record[EVENT_FIELDS];
    while (port_room(1) && web_next_event(record)) {
        Uint8 type = static_cast<Uint8>(record[0]);
        if (type == SDL_MOUSEMOTION)
            port_push_motion(static_cast<Uint8>(record[2]), record[3], record[4], record[5],
                             record[6]);
        else
            port_push_button(type, record[1], record[3], record[4]);
    }
}

const port_video window_video = {DRIVER_NAME,        canvas_open,    canvas_close,
                                 canvas_set_caption, canvas_present, canvas_pump};

Uint32 backend_ticks()
{
    return static_cast<Uint32>(emscripten_get_now() - start_ms);
}

void backend_sleep(Uint32 ms)
{
    emscripten_sleep(ms);
}
