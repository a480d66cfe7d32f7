#include "GdiPlusBitmap.h"

#include <cstring>

#include "ScopedHandles.h"

CGdiPlusBitmap::~CGdiPlusBitmap()
{
    delete bitmap;
    bitmap = nullptr;
}

CGdiPlusBitmapResource::~CGdiPlusBitmapResource()
{
    Clear();
}

void CGdiPlusBitmapResource::Clear()
{
    // The bitmap reads from the block, so it goes first.
    if (bitmap) {
        delete bitmap;
        bitmap = nullptr;
    }
    if (globalBuffer) {
        GlobalUnlock(globalBuffer);
        GlobalFree(globalBuffer);
        globalBuffer = nullptr;
    }
}

bool CGdiPlusBitmapResource::Load(UINT resourceId)
{
    return Load(resourceId, kImageResourceType);
}

bool CGdiPlusBitmapResource::Load(UINT resourceId, LPCWSTR resourceType)
{
    Clear();

    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), resourceType);
    if (!resource)
        return false;
    DWORD size = SizeofResource(nullptr, resource);
    if (size == 0)
        return false;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;

    globalBuffer = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!globalBuffer)
        return false;
    void* block = GlobalLock(globalBuffer);
    if (!block) {
        GlobalFree(globalBuffer);
        globalBuffer = nullptr;
        return false;
    }
    std::memcpy(block, data, size);

    auto releaseBlock = [this] {
        GlobalUnlock(globalBuffer);
        GlobalFree(globalBuffer);
        globalBuffer = nullptr;
    };

    {
        // Released before the block can be freed; the bitmap keeps a
        // reference of its own.
        ComPtr<IStream> stream;
        if (CreateStreamOnHGlobal(globalBuffer, FALSE, stream.Put()) != S_OK) {
            releaseBlock();
            return false;
        }
        bitmap = Gdiplus::Bitmap::FromStream(stream.Get(), FALSE);
    }
    if (!bitmap) {
        releaseBlock();
        return false;
    }
    if (bitmap->GetLastStatus() == Gdiplus::Ok)
        return true;

    delete bitmap;
    bitmap = nullptr;
    releaseBlock();
    return false;
}
