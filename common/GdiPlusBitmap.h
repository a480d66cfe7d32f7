// GDI+ bitmaps decoded from image resources of the running program.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

// Owns one decoded GDI+ bitmap.
class CGdiPlusBitmap {
public:
    CGdiPlusBitmap() = default;
    CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
    CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;
    virtual ~CGdiPlusBitmap();

    Gdiplus::Bitmap* GetBitmap() const { return bitmap; }

protected:
    Gdiplus::Bitmap* bitmap = nullptr;
};

// A bitmap loaded from an image resource of the program's own executable.
// GDI+ keeps reading the compressed bytes for as long as the bitmap lives, so
// the object keeps its own locked copy of them next to the bitmap.
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
public:
    CGdiPlusBitmapResource() = default;
    ~CGdiPlusBitmapResource() override;

    // Loads resource `resourceId` of the program's image resource type
    // (kImageResourceType). Whatever the object held before is released first;
    // on failure the object is left empty.
    bool Load(UINT resourceId);
    // The same for an explicit resource type.
    bool Load(UINT resourceId, LPCWSTR resourceType);
    void Clear();

    HGLOBAL GetGlobalBuffer() const { return globalBuffer; }

private:
    HGLOBAL globalBuffer = nullptr;
};

// The resource type under which each program stores its images: defined once
// per program ("PNG" in the launcher, "JPG" in the updater).
extern const wchar_t kImageResourceType[];
