#pragma once

#include <glib-object.h>

#include <utility>

// One reference to a GObject (a libgsf output, for instance), dropped with g_object_unref when this goes away.
template <typename T>
class GObjectRef {
public:
    GObjectRef() noexcept = default;
    // Takes over the reference the caller holds; `object` may be null.
    explicit GObjectRef(T* object) noexcept : m_object(object) {}
    GObjectRef(GObjectRef&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    GObjectRef& operator=(GObjectRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_object, nullptr));
        return *this;
    }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    ~GObjectRef() { reset(); }

    T* get() const noexcept { return m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }

    void reset(T* object = nullptr) noexcept {
        if (m_object != nullptr) g_object_unref(m_object);
        m_object = object;
    }

private:
    T* m_object = nullptr;
};
