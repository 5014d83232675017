// Small owners of Windows resources for the front end, so every exit path gives them back.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

// A window's device context, as GetDC hands it out.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context until the end of the scope, which puts the
// previous one back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr)
    {
    }
    ~SelectedObject()
    {
        if (previous_ != nullptr)
            SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// An icon loaded from a resource at a size of our choosing, which is ours to destroy.
class OwnedIcon {
public:
    explicit OwnedIcon(HICON icon) : icon_(icon) {}
    ~OwnedIcon()
    {
        if (icon_ != nullptr)
            DestroyIcon(icon_);
    }
    OwnedIcon(const OwnedIcon&) = delete;
    OwnedIcon& operator=(const OwnedIcon&) = delete;
    HICON get() const { return icon_; }

private:
    HICON icon_;
};

// One reference to a COM object.
template <class Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (object_ != nullptr)
            object_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface** out() { return &object_; }
    Interface* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Interface* object_ = nullptr;
};

// An item list from the shell, given back through the shell's allocator.
class ShellItemList {
public:
    explicit ShellItemList(LPITEMIDLIST items) : items_(items) {}
    ~ShellItemList()
    {
        if (items_ == nullptr)
            return;
        ComRef<IMalloc> allocator;
        if (SUCCEEDED(SHGetMalloc(allocator.out())) && allocator)
            allocator->Free(items_);
    }
    ShellItemList(const ShellItemList&) = delete;
    ShellItemList& operator=(const ShellItemList&) = delete;
    LPCITEMIDLIST get() const { return items_; }
    explicit operator bool() const { return items_ != nullptr; }

private:
    LPITEMIDLIST items_;
};
