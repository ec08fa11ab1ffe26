/* t_gui_layout: the window layout (position, size, state, stacking) saved
 * to and restored from a JSON file, scaled to the current display. */
#include <cjson/cJSON.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "t_gui_internal.h"
#include "t_log.h"
#include "t_str.h"

int t_gui_save_layout_json(T_GUI_CTX* ctx, const char* path) {
    __t_assert_return(ctx, -1);
    __t_assert_return(path, -1);
    cJSON* root = cJSON_CreateObject();
    if (!root) return -1;
    cJSON_AddNumberToObject(root, "version", 1);
    cJSON_AddNumberToObject(root, "display_w", ctx->display_w);
    cJSON_AddNumberToObject(root, "display_h", ctx->display_h);
    cJSON* list = cJSON_AddArrayToObject(root, "windows");
    if (!list) {
        cJSON_Delete(root);
        return -1;
    }
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        T_GUI_WINDOW* w = (T_GUI_WINDOW*)n->ptr;
        if (!(w->state & T_GUI_STATE_OPEN)) {
            /* a closed window replaced by a newer one of the same title is stale */
            int stale = 0;
            for (LIST_NODE* o = ctx->windows->start; o; o = o->next) {
                T_GUI_WINDOW* other = (T_GUI_WINDOW*)o->ptr;
                if (other != w && other->id > w->id && strcmp(other->title, w->title) == 0) stale = 1;
            }
            if (stale) continue;
        }
        cJSON* o = cJSON_CreateObject();
        if (!o) continue;
        cJSON_AddStringToObject(o, "title", w->title);
        cJSON_AddNumberToObject(o, "x", w->x);
        cJSON_AddNumberToObject(o, "y", w->y);
        cJSON_AddNumberToObject(o, "w", w->w);
        cJSON_AddNumberToObject(o, "h", w->h);
        cJSON_AddNumberToObject(o, "state", w->state & 0x43);
        cJSON_AddNumberToObject(o, "flags", w->flags);
        cJSON_AddNumberToObject(o, "z_order", w->z_order);
        cJSON_AddNumberToObject(o, "z_value", w->z_value);
        cJSON_AddNumberToObject(o, "norm_x", w->norm_x);
        cJSON_AddNumberToObject(o, "norm_y", w->norm_y);
        cJSON_AddNumberToObject(o, "norm_w", w->norm_w);
        cJSON_AddNumberToObject(o, "norm_h", w->norm_h);
        cJSON_AddNumberToObject(o, "autofit_flags", w->autofit_flags);
        cJSON_AddNumberToObject(o, "autofit_border", w->autofit_border);
        cJSON_AddNumberToObject(o, "resize_policy", w->resize_policy);
        cJSON_AddItemToArray(list, o);
    }
    char* text = cJSON_Print(root);
    cJSON_Delete(root);
    if (!text) return -1;
    T_STR* out = t_str_from(text);
    cJSON_free(text);
    if (!out || !t_str_append(&out, "\n", 1, 1)) {
        t_str_free(&out);
        return -1;
    }
    int ok = t_file_write_atomic(path, out->data, out->length);
    t_str_free(&out);
    if (!ok) {
        t_log(LOG_ERR, "t_gui_save_layout_json: could not write %s", path);
        return -1;
    }
    return 0;
}

/* Number stored under `key`, or `fallback`. */
static double _num(const cJSON* o, const char* key, double fallback) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    return cJSON_IsNumber(item) ? item->valuedouble : fallback;
}

/* Integer stored under `key` kept inside the 32-bit range, or `fallback`:
 * a file may hold any number, and converting one beyond the range is undefined. */
static int32_t _int(const cJSON* o, const char* key, int32_t fallback) {
    double v = _num(o, key, fallback);
    if (!(v > (double)INT32_MIN)) return INT32_MIN;
    if (v >= (double)INT32_MAX) return INT32_MAX;
    return (int32_t)v;
}

/* A number from the file as a coordinate: kept within +-1e9 (0 when not a
 * number) so that it converts to a float. */
static float _coord(double v) {
    if (v != v) return 0;
    return (float)std::min(std::max(v, -1e9), 1e9);
}

/* Appends a pending entry for a window not created yet. */
static void _add_pending(T_GUI_CTX* ctx, const char* title, float x, float y, float w, float h, int32_t state) {
    T_GUI_PENDING_LAYOUT* grown =
        (T_GUI_PENDING_LAYOUT*)realloc(ctx->pending_layout, sizeof(*grown) * (size_t)(ctx->pending_count + 1));
    if (!grown) {
        t_log_alloc_failure(grown, ctx->pending_count + 1, T_GUI_PENDING_LAYOUT);
        return;
    }
    ctx->pending_layout = grown;
    T_GUI_PENDING_LAYOUT* p = &grown[ctx->pending_count++];
    memset(p, 0, sizeof(*p));
    snprintf(p->title, sizeof(p->title), "%s", title);
    p->x = x;
    p->y = y;
    p->w = w;
    p->h = h;
    p->state = state;
}

int t_gui_load_layout_json(T_GUI_CTX* ctx, const char* path) {
    __t_assert_return(ctx, -1);
    __t_assert_return(path, -1);
    struct stat st;
    if (stat(path, &st) != 0) {
        t_log(LOG_DEBUG, "t_gui_load_layout_json: %s not found (first run?)", path);
        return -1;
    }
    if (st.st_size <= 0 || st.st_size > T_GUI_LAYOUT_MAX_BYTES) {
        t_log(LOG_ERR, "t_gui_load_layout_json: %s is empty or larger than %d bytes", path, T_GUI_LAYOUT_MAX_BYTES);
        return -1;
    }
    T_STR* text = t_str_read_file(path);
    if (!text) return -1;
    if (text->length == 0 || text->length > T_GUI_LAYOUT_MAX_BYTES) {
        t_str_free(&text);
        return -1;
    }
    cJSON* root = cJSON_ParseWithLength(text->data, text->length);
    t_str_free(&text);
    if (!root) {
        t_log(LOG_ERR, "t_gui_load_layout_json: %s is not valid JSON", path);
        return -1;
    }
    const cJSON* windows = cJSON_GetObjectItemCaseSensitive(root, "windows");
    if (!cJSON_IsArray(windows)) {
        t_log(LOG_ERR, "t_gui_load_layout_json: %s has no \"windows\" array", path);
        cJSON_Delete(root);
        return -1;
    }
    float sw = ctx->virtual_w > 0 && ctx->virtual_h > 0 ? ctx->virtual_w : ctx->display_w;
    float sh = ctx->virtual_w > 0 && ctx->virtual_h > 0 ? ctx->virtual_h : ctx->display_h;
    double stored_w = _num(root, "display_w", 0), stored_h = _num(root, "display_h", 0);
    double fx = 1, fy = 1;
    if (stored_w > 0 && stored_h > 0 && sw > 0 && sh > 0) {
        fx = sw / stored_w;
        fy = sh / stored_h;
    }
    /* Where each title is last stored as open, found in one pass: looking
     * ahead from every closed entry took quadratic time on a long file. */
    std::unordered_map<std::string, int> last_open;
    int index = 0;
    for (const cJSON* e = windows->child; e; e = e->next, index++) {
        const cJSON* t = cJSON_GetObjectItemCaseSensitive(e, "title");
        if (cJSON_IsString(t) && (_int(e, "state", 0) & T_GUI_STATE_OPEN)) last_open[t->valuestring] = index;
    }
    /* a window is matched by at most one entry: first match first */
    std::vector<T_GUI_WINDOW*> used;
    index = -1;
    for (const cJSON* e = windows->child; e; e = e->next) {
        index++;
        const cJSON* t = cJSON_GetObjectItemCaseSensitive(e, "title");
        if (!cJSON_IsObject(e) || !cJSON_IsString(t)) continue;
        int32_t state = _int(e, "state", T_GUI_STATE_OPEN);
        if (!(state & T_GUI_STATE_OPEN)) {
            auto later = last_open.find(t->valuestring);
            if (later != last_open.end() && later->second > index) continue; /* reopened later */
        }
        T_GUI_WINDOW* win = NULL;
        for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
            T_GUI_WINDOW* w = (T_GUI_WINDOW*)n->ptr;
            if (strcmp(w->title, t->valuestring) != 0) continue;
            int taken = 0;
            for (T_GUI_WINDOW* u : used) taken |= (u == w);
            if (!taken) {
                win = w;
                break;
            }
        }
        float x = _coord(_num(e, "x", 0) * fx), y = _coord(_num(e, "y", 0) * fy);
        float w = _coord(_num(e, "w", 0)), h = _coord(_num(e, "h", 0));
        if (!win) {
            _add_pending(ctx, t->valuestring, x, y, w, h, state);
            continue;
        }
        used.push_back(win);
        if (x < 0 || (sw > 0 && x > sw)) x = 0;
        if (y < 0 || (sh > 0 && y > sh)) y = 0;
        /* a width not above 0 would leave a window no pointer can reach */
        if (!(w > 0)) w = win->w;
        if (sw > 0 && w > sw) w = sw;
        if (h < 20) h = 20;
        if (sh > 0 && h > sh) h = sh;
        win->x = x;
        win->y = y;
        win->w = w;
        win->h = h;
        win->state = (win->state & ~0x43) | (state & 0x43);
        win->flags = _int(e, "flags", win->flags);
        int32_t z = _int(e, "z_order", win->z_order);
        win->z_order = (z >= 0 && z <= 4) ? z : T_GUI_ZORDER_NORMAL;
        win->z_value = _int(e, "z_value", win->z_value);
        win->norm_x = _coord(_num(e, "norm_x", win->norm_x));
        win->norm_y = _coord(_num(e, "norm_y", win->norm_y));
        win->norm_w = _coord(_num(e, "norm_w", win->norm_w));
        win->norm_h = _coord(_num(e, "norm_h", win->norm_h));
        win->autofit_flags = _int(e, "autofit_flags", win->autofit_flags);
        win->autofit_border = _coord(_num(e, "autofit_border", win->autofit_border));
        win->resize_policy = _int(e, "resize_policy", win->resize_policy);
    }
    cJSON_Delete(root);
    /* re-apply the stacking rules after modes were taken over */
    _t_gui_sort(ctx);
    ctx->needs_redraw = 1;
    return 0;
}
