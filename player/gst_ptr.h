// Owners for the C handles of GLib and GStreamer. Each releases exactly the
// reference it holds; nothing here takes a reference it was not given.
#pragma once

#include <glib.h>
#include <gst/gst.h>

template <typename T, void (*Release)(T *)> class OwnedPtr {
  public:
    OwnedPtr() = default;
    explicit OwnedPtr(T *p) : p_(p) {}
    ~OwnedPtr() { reset(); }
    OwnedPtr(const OwnedPtr &) = delete;
    OwnedPtr &operator=(const OwnedPtr &) = delete;
    OwnedPtr(OwnedPtr &&other) noexcept : p_(other.release()) {}
    OwnedPtr &operator=(OwnedPtr &&other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T *release() {
        T *p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T *p = nullptr) {
        T *old = p_;
        p_ = p;
        if (old)
            Release(old);
    }
    // For C out-parameters (GError **, gchar **): the previous value is
    // released first so nothing leaks when the owner is reused.
    T **out() {
        reset();
        return &p_;
    }

  private:
    T *p_ = nullptr;
};

namespace gst_ptr_detail {
template <typename T> inline void unref_object(T *p) {
    gst_object_unref(p);
}
inline void unref_message(GstMessage *m) {
    gst_message_unref(m);
}
inline void unref_caps(GstCaps *c) {
    gst_caps_unref(c);
}
inline void free_error(GError *e) {
    g_error_free(e);
}
inline void free_chars(gchar *s) {
    g_free(s);
}
} // namespace gst_ptr_detail

// Holds one non-floating reference to a GstObject (pads, buses, elements the
// caller owns). Floating objects must go through ref_sink_object() first.
template <typename T> using GstObjectPtr = OwnedPtr<T, gst_ptr_detail::unref_object<T>>;
using GstMessagePtr = OwnedPtr<GstMessage, gst_ptr_detail::unref_message>;
using GstCapsPtr = OwnedPtr<GstCaps, gst_ptr_detail::unref_caps>;
using GErrorPtr = OwnedPtr<GError, gst_ptr_detail::free_error>;
using GCharPtr = OwnedPtr<gchar, gst_ptr_detail::free_chars>;

// Takes ownership of a possibly floating object: a fresh element from a
// factory becomes a plain reference the owner may drop.
template <typename T> inline GstObjectPtr<T> ref_sink_object(T *p) {
    if (p)
        gst_object_ref_sink(p);
    return GstObjectPtr<T>(p);
}
