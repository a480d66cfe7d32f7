// The status callback of every URL download: moves the progress bar and
// watches for the failures the download service itself reports as success.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>

#include "ScopedHandles.h"

// Lives as long as its owner; AddRef and Release keep no count.
class DownloadProgress : public IBindStatusCallback, public IHttpNegotiate {
public:
    // progressBar may be null: the download then moves no bar.
    explicit DownloadProgress(HWND progressBar);
    DownloadProgress(const DownloadProgress&) = delete;
    DownloadProgress& operator=(const DownloadProgress&) = delete;
    virtual ~DownloadProgress();

    // Forgets what an earlier download reported; the transfer counts as
    // active from now on.
    void BeginDownload();
    // How long the download service has called back nothing, in milliseconds.
    // Any thread may ask.
    DWORD QuietMilliseconds() const;
    // Asks the download service to end the transfer under way, from any
    // thread; false when no transfer has started yet.
    bool AbortTransfer();
    // Whether the server answered with an error status, or the body that
    // arrived (bodyBytes, as written) is short of the length the server
    // announced.
    bool DownloadFailed(ULONGLONG bodyBytes) const;
    // The status and lengths DownloadFailed judged, as a line's text.
    void DescribeOutcome(ULONGLONG bodyBytes, wchar_t* text, size_t capacity) const;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
    STDMETHODIMP GetPriority(LONG* priority) override;
    STDMETHODIMP OnLowResource(DWORD reserved) override;
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                            LPCWSTR statusText) override;
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
    STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override;

    // IHttpNegotiate
    STDMETHODIMP BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                      LPWSTR* additionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                            LPWSTR* additionalRequestHeaders) override;

private:
    void NoteActivity();

    HWND progressBar;
    // Read by the thread that watches for a stalled transfer.
    std::atomic<DWORD> lastActivity{0};
    CRITICAL_SECTION bindingLock;
    ComPtr<IBinding> binding;  // the transfer under way
    DWORD httpStatus = 0;
    ULONG received = 0;
    ULONG announced = 0;
    // The position the bar was last sent; none yet at first. Only the
    // transfer's own thread calls back, one call at a time.
    int barPosition = -1;
};

// The bar position for progress against total, in percent; the product is
// formed in 64 bits so large files do not wrap.
unsigned ProgressPercent(ULONG progress, ULONG progressMax);
