// The command-line import: a configuration file's values written straight into the
// registry, with no window.
#include "wardsetup.h"

#include <stdlib.h>
#include <wchar.h>

// The full path of a regular file that opens for reading (free it), or NULL. A bare name
// would otherwise be looked up in the Windows folder by the profile functions.
static LPWSTR ResolveImportPath(LPCWSTR path)
{
    if (path == NULL || path[0] == L'\0' || wcspbrk(path, L"*?") != NULL)
        return NULL;
    DWORD chars = GetFullPathNameW(path, 0, NULL, NULL);
    if (chars == 0)
        return NULL;
    LPWSTR full = (LPWSTR)calloc(chars, sizeof(WCHAR));
    if (full == NULL)
        return NULL;
    DWORD got = GetFullPathNameW(path, chars, full, NULL);
    DWORD attributes = got > 0 && got < chars ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    BOOL usable = attributes != INVALID_FILE_ATTRIBUTES &&
                  !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    if (usable) {
        HANDLE file = CreateFileW(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        usable = file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (!usable) {
        free(full);
        return NULL;
    }
    return full;
}

int ImportConfigFile(LPCWSTR path)
{
    LPWSTR full = ResolveImportPath(path);
    if (full == NULL)
        return SETUP_FAILURE;
    ConfigRecords *records = (ConfigRecords *)calloc(1, sizeof(ConfigRecords));
    int rc = SETUP_FAILURE;
    if (records != NULL) {
        // Empty records: every key the file lacks gives 0 or the empty text.
        records->importing = TRUE;
        records->providerInstalled = IsProviderInstalled();
        rc = ReadAllFromFile(records, full);
        if (rc == SETUP_SUCCESS)
            rc = WriteAllToRegistry(records);
        ReleaseAll(records);
        free(records);
    }
    free(full);
    return rc;
}
