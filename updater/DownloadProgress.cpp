#include "DownloadProgress.h"

#include <commctrl.h>

#include <cstdint>
#include <cwchar>
#include <utility>

unsigned ProgressPercent(ULONG progress, ULONG progressMax)
{
    if (progressMax == 0)
        return 0;
    return unsigned(uint64_t(progress) * 100u / progressMax);
}

DownloadProgress::DownloadProgress(HWND progressBar) : progressBar(progressBar)
{
    InitializeCriticalSection(&bindingLock);
    NoteActivity();
}

DownloadProgress::~DownloadProgress() { DeleteCriticalSection(&bindingLock); }

void DownloadProgress::NoteActivity() { lastActivity.store(GetTickCount(), std::memory_order_release); }

void DownloadProgress::BeginDownload()
{
    httpStatus = 0;
    received = 0;
    announced = 0;
    NoteActivity();
}

DWORD DownloadProgress::QuietMilliseconds() const
{
    // The note is read before the clock: read after it, a note the
    // transfer's thread made in between is newer than the reading, and the
    // difference passes for a silence of some 49 days, ending a transfer
    // that was going well. Unsigned difference: right across the tick
    // count's wrap as well.
    const DWORD last = lastActivity.load(std::memory_order_acquire);
    return GetTickCount() - last;
}

bool DownloadProgress::AbortTransfer()
{
    // The service may call OnStopBinding from inside Abort and drop the
    // binding there; our own reference keeps it alive for the call.
    EnterCriticalSection(&bindingLock);
    const auto current = ComPtr<IBinding>::Share(binding.Get());
    LeaveCriticalSection(&bindingLock);
    if (!current)
        return false;
    current->Abort();
    return true;
}

bool DownloadProgress::DownloadFailed(ULONGLONG bodyBytes) const
{
    if (httpStatus >= 400)
        return true;
    // Judged by the bytes that arrived, not by the last position reported:
    // the service may end a whole body without reporting its last piece
    // (seen under Wine, 190 of 200 bytes reported, all 200 written).
    return announced > 0 && bodyBytes < announced;
}

void DownloadProgress::DescribeOutcome(ULONGLONG bodyBytes, wchar_t* text, size_t capacity) const
{
    if (capacity == 0)
        return;
    _snwprintf(text, capacity, L"status %lu, %I64u bytes of %lu announced (%lu reported)", httpStatus, bodyBytes,
               announced, received);
    text[capacity - 1] = L'\0';
}

STDMETHODIMP DownloadProgress::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
        *object = static_cast<IBindStatusCallback*>(this);
        return S_OK;
    }
    // The download service asks for this to hand over the HTTP status, which
    // it otherwise hides behind a successful result.
    if (IsEqualIID(iid, IID_IHttpNegotiate)) {
        *object = static_cast<IHttpNegotiate*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DownloadProgress::AddRef() { return 1; }
STDMETHODIMP_(ULONG) DownloadProgress::Release() { return 1; }

STDMETHODIMP DownloadProgress::OnStartBinding(DWORD, IBinding* started)
{
    // Kept only so a transfer that goes silent can be ended from outside.
    // Released outside the lock, once this call is done with it.
    auto previous = ComPtr<IBinding>::Share(started);
    EnterCriticalSection(&bindingLock);
    std::swap(binding, previous);
    LeaveCriticalSection(&bindingLock);
    NoteActivity();
    return E_NOTIMPL;
}
STDMETHODIMP DownloadProgress::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP DownloadProgress::OnLowResource(DWORD) { return S_OK; }

STDMETHODIMP DownloadProgress::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR)
{
    NoteActivity();
    if (progressMax == 0)
        return S_FALSE;
    if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
        statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        received = progress;
        announced = progressMax;
    }
    unsigned percent = ProgressPercent(progress, progressMax);
    // Sent without waiting for the bar's thread, which may be repainting
    // the window: the transfer goes on at once. The bar still gets every
    // position, in order, ahead of anything posted to its thread. The same
    // position again would change nothing on the bar but still cost its
    // thread a message; a small file reports 100 three times over.
    if (progressBar && int(percent) != barPosition &&
        SendNotifyMessageW(progressBar, PBM_SETPOS, WPARAM(percent), 0))
        barPosition = int(percent);
    wchar_t line[1024];
    _snwprintf(line, 1024, L"%I64ul/%lul %d\n", uint64_t(progress) * 100u, progressMax, int(percent));
    line[1023] = L'\0';
    OutputDebugStringW(line);
    return S_OK;
}

STDMETHODIMP DownloadProgress::OnStopBinding(HRESULT, LPCWSTR)
{
    ComPtr<IBinding> finished;
    EnterCriticalSection(&bindingLock);
    std::swap(binding, finished);
    LeaveCriticalSection(&bindingLock);
    return E_NOTIMPL;
}
STDMETHODIMP DownloadProgress::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
STDMETHODIMP DownloadProgress::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
STDMETHODIMP DownloadProgress::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

STDMETHODIMP DownloadProgress::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders)
{
    if (additionalHeaders)
        *additionalHeaders = nullptr;
    return S_OK;
}

STDMETHODIMP DownloadProgress::OnResponse(DWORD responseCode, LPCWSTR, LPCWSTR,
                                          LPWSTR* additionalRequestHeaders)
{
    if (additionalRequestHeaders)
        *additionalRequestHeaders = nullptr;
    NoteActivity();
    httpStatus = responseCode;
    return S_OK;
}
