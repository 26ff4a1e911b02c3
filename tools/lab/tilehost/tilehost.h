// tilehost: stands in for the logon screen so that the Portgate tile (or any credential
// provider) can be tried without logging off. Declarations shared by its files.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "credential_provider.h"

// Exit codes, one per outcome; --help lists them.
enum TilehostExit {
    EXIT_CREDENTIAL = 0,      // the tile returned a credential (the logon would go to Windows)
    EXIT_NO_CREDENTIAL = 1,   // the tile kept its credential: refused, failed step or cancel
    EXIT_USAGE = 2,
    EXIT_NOT_LOADED = 3,      // registration fault, or the provider could not be created
    EXIT_SETUP_FAILED = 4,    // scenario, descriptors, credential or a field set refused
    EXIT_SERIALIZATION_ERROR = 5,  // GetSerialization returned an error HRESULT
    EXIT_BAD_BUFFER = 6,      // a credential was returned but its buffer is malformed
    EXIT_MODULE_HELD = 7,     // after every release the module still refused to unload
    EXIT_TIMED_OUT = 8,       // the submit did not return within --timeout
};

// ---- output (output.cpp): UTF-8 lines on standard output, safe from any thread
void Out(const wchar_t *format, ...);
// The same, prefixed by the seconds since the program started.
void Log(const wchar_t *format, ...);
// A text on one line in out: CR and LF shown as \r and \n; out.
const wchar_t *OneLine(const wchar_t *text, wchar_t *out, size_t chars);

// ---- the provider (provider.cpp)
struct LoadedProvider {
    ICredentialProvider *provider;
    HMODULE module;            // the server's module, found or loaded
    BOOL loadedByUs;           // --dll: ours to free
    wchar_t path[MAX_PATH];
};
// As the logon screen does: the Credential Providers entry, the class key, the server
// path and threading model, then CoCreateInstance. Every fault is printed.
BOOL LoadRegisteredProvider(REFCLSID clsid, LoadedProvider *loaded);
// LoadLibrary + DllGetClassObject + CreateInstance.
BOOL LoadProviderDll(const wchar_t *path, REFCLSID clsid, LoadedProvider *loaded);
// After the last release: lets the module go if DllCanUnloadNow agrees; FALSE when not.
BOOL UnloadProvider(LoadedProvider *loaded);
// Writes or removes the registration of dllPath under clsid, as the configuration tool
// does; Windows error codes.
DWORD RegisterProvider(REFCLSID clsid, const wchar_t *className, const wchar_t *dllPath);
DWORD UnregisterProvider(REFCLSID clsid);

// ---- the tile's window and events sink (tile_window.cpp)
struct TileFields {
    DWORD count;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *descriptors[32];
};
// The events sink; it logs every callback (a password field's text, or an unknown
// field's, masked) and hands out the window for OnCreatingWindow. fields outlive it.
ICredentialProviderCredentialEvents *CreateEventsSink(HWND *window, const TileFields *fields);
// Prints each field as the tile offers it (type, label, state, value) and builds a window
// with a control for it, kept in step with the credential.
HWND CreateTileWindow(ICredentialProviderCredential *credential, const TileFields *fields,
                      BOOL show, void (*onSubmit)(void));
void UpdateFieldControl(HWND window, DWORD fieldId, const wchar_t *text);

// ---- watching the tile's dialogs (watcher.cpp)
enum BoxAnswer { ANSWER_NONE, ANSWER_OK, ANSWER_CANCEL };
// Logs every message box and step text of this process's dialogs; answers the boxes.
void StartDialogWatcher(BoxAnswer answer);  // on the thread that submits
void StopDialogWatcher(void);

// ---- a faster clock for tests (clock.cpp says how); how many imports were patched
int SpeedUpModuleClock(HMODULE module, DWORD divisor);
