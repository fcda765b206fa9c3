#pragma once

#include <cstdlib>

// An xcb reply, freed when it goes.
template <typename T> struct XcbReply
{
    T* value = nullptr;
    explicit XcbReply(T* reply)
        : value(reply)
    { }
    ~XcbReply() { std::free(value); }
    XcbReply(const XcbReply&) = delete;
    XcbReply& operator=(const XcbReply&) = delete;
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
};
