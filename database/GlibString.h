#pragma once

#include <glib.h>

#include <memory>

// A string GLib allocated, freed with g_free by its owner.
struct GlibFree {
    void operator()(gchar* text) const noexcept { g_free(text); }
};
using GlibString = std::unique_ptr<gchar, GlibFree>;
