// What a save may change, copied before its first write and put back when it fails: the
// tool's values of the product key, its DomainList and GroupList subtrees, and the
// registration entries. Only what differs from the copy is written back, so a key that
// refused the save's write is not asked again.
#include "wardsetup.h"
#include "registration.h"

#include <stdlib.h>
#include <wchar.h>

static const WCHAR PROVIDER_ENTRY_KEY[] = CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT;
static const WCHAR CLASS_KEY[] = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT;
static const WCHAR DOMAIN_LIST_PATH[] = PRODUCT_KEY_PATH L"\\" SUBKEY_DOMAIN_LIST;
static const WCHAR GROUP_LIST_PATH[] = PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST;

// The product key's own values that a save writes; the service's state values are not
// among them and are never put back over a newer write.
static LPCWSTR const PRODUCT_VALUES[] = {
    VALUE_LOGON_IMAGE,        VALUE_MULTI_INTERFACE_CHECK, VALUE_MULTI_INTERFACE_MESSAGE,
    VALUE_VLAN_LOGON_SERVER,  VALUE_VLAN_LOGON_PORT,       VALUE_VLAN_LOGOFF_SERVER,
    VALUE_VLAN_LOGOFF_PORT,   VALUE_ENABLE_DHCP,           VALUE_NOT_FIND_DOMAIN,
    VALUE_WAIT_IP_RENEW,      VALUE_WAIT_FIND_DOMAIN,
};

// Registry names are at most 255 characters (values 16383).
enum { KEY_NAME_CHARS = 256, VALUE_NAME_CHARS = 16384 };

// One key (name NULL) or one value, under HKEY_LOCAL_MACHINE; a tree is its keys and
// values in pre-order, so that each key comes before what it holds.
typedef struct SavedItem {
    struct SavedItem *next;
    LPWSTR path;
    LPWSTR name;
    DWORD type;
    DWORD bytes;
    BYTE data[1];
} SavedItem;

// One tree (valueName NULL) or one value, and what was there.
typedef struct SavedPart {
    LPCWSTR path;
    LPCWSTR valueName;
    SavedItem *items;     // empty: nothing was there
} SavedPart;

enum { MAX_PARTS = 4 + ARRAYSIZE(PRODUCT_VALUES) + 2 };

struct RegistryBackup {
    SavedPart parts[MAX_PARTS];
    int count;
    BOOL hasProductKey;   // the product key's parts were saved
    BOOL productKeyExisted;
    BOOL complete;        // FALSE when memory or a read ran out: nothing may be trusted
};

static void FreeItems(SavedItem *items)
{
    while (items != NULL) {
        SavedItem *next = items->next;
        free(items->path);
        free(items->name);
        free(items);
        items = next;
    }
}

static BOOL AddItem(SavedItem ***tail, LPCWSTR path, LPCWSTR name, DWORD type, const BYTE *data,
                    DWORD bytes)
{
    SavedItem *item = (SavedItem *)calloc(1, sizeof(SavedItem) + bytes);
    if (item == NULL)
        return FALSE;
    item->path = _wcsdup(path);
    item->name = name != NULL ? _wcsdup(name) : NULL;
    item->type = type;
    item->bytes = bytes;
    if (bytes > 0)
        memcpy(item->data, data, bytes);
    **tail = item;
    *tail = &item->next;
    return item->path != NULL && (name == NULL || item->name != NULL);
}

// One value of an open key as an item; TRUE also when it does not exist (nothing added).
static BOOL SaveValue(SavedItem ***tail, HKEY key, LPCWSTR path, LPCWSTR name)
{
    DWORD type = 0, bytes = 0;
    LONG rc = RegQueryValueExW(key, name, NULL, &type, NULL, &bytes);
    if (rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (rc != ERROR_SUCCESS)
        return FALSE;
    BYTE *data = (BYTE *)malloc(bytes + 1);
    if (data == NULL)
        return FALSE;
    rc = RegQueryValueExW(key, name, NULL, &type, data, &bytes);
    BOOL ok = rc == ERROR_SUCCESS && AddItem(tail, path, name, type, data, bytes);
    free(data);
    return ok;
}

static BOOL SaveTree(SavedItem ***tail, LPCWSTR path)
{
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (rc != ERROR_SUCCESS || !AddItem(tail, path, NULL, 0, NULL, 0)) {
        if (rc == ERROR_SUCCESS)
            RegCloseKey(key);
        return FALSE;
    }
    LPWSTR name = (LPWSTR)malloc(VALUE_NAME_CHARS * sizeof(WCHAR));
    BOOL ok = name != NULL;
    for (DWORD index = 0; ok; index++) {
        DWORD chars = VALUE_NAME_CHARS;
        rc = RegEnumValueW(key, index, name, &chars, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        ok = rc == ERROR_SUCCESS && SaveValue(tail, key, path, name);
    }
    for (DWORD index = 0; ok; index++) {
        DWORD chars = KEY_NAME_CHARS;
        rc = RegEnumKeyExW(key, index, name, &chars, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        size_t length = wcslen(path) + 1 + chars + 1;
        LPWSTR child = (LPWSTR)malloc(length * sizeof(WCHAR));
        ok = rc == ERROR_SUCCESS && child != NULL;
        if (ok) {
            wcscpy(child, path);
            wcscat(child, L"\\");
            wcscat(child, name);
            ok = SaveTree(tail, child);
        }
        free(child);
    }
    free(name);
    RegCloseKey(key);
    return ok;
}

static BOOL SavePart(SavedPart *part)
{
    SavedItem **tail = &part->items;
    if (part->valueName == NULL)
        return SaveTree(&tail, part->path);
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, part->path, 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (rc != ERROR_SUCCESS)
        return FALSE;
    BOOL ok = SaveValue(&tail, key, part->path, part->valueName);
    RegCloseKey(key);
    return ok;
}

static BOOL SameItems(const SavedItem *a, const SavedItem *b)
{
    for (; a != NULL && b != NULL; a = a->next, b = b->next) {
        if (wcscmp(a->path, b->path) != 0 || (a->name == NULL) != (b->name == NULL) ||
            (a->name != NULL && wcscmp(a->name, b->name) != 0) || a->type != b->type ||
            a->bytes != b->bytes || memcmp(a->data, b->data, a->bytes) != 0)
            return FALSE;
    }
    return a == NULL && b == NULL;
}

static BOOL WriteItems(const SavedItem *items)
{
    BOOL ok = TRUE;
    for (const SavedItem *item = items; item != NULL; item = item->next) {
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, item->path, 0, NULL, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
            ok = FALSE;
            continue;
        }
        if (item->name != NULL &&
            RegSetValueExW(key, item->name, 0, item->type, item->data, item->bytes) != ERROR_SUCCESS)
            ok = FALSE;
        RegCloseKey(key);
    }
    return ok;
}

static BOOL RestorePart(const SavedPart *part)
{
    SavedPart now = {part->path, part->valueName, NULL};
    BOOL read = SavePart(&now);
    BOOL same = read && SameItems(now.items, part->items);
    FreeItems(now.items);
    if (same)
        return TRUE;
    LONG rc;
    if (part->valueName == NULL) {
        rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, part->path);
    } else {
        HKEY key;
        rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, part->path, 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_SUCCESS) {
            rc = RegDeleteValueW(key, part->valueName);
            RegCloseKey(key);
        }
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return FALSE;
    return WriteItems(part->items);
}

static BOOL KeyExists(LPCWSTR path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

RegistryBackup *BackupConfiguration(UINT what)
{
    RegistryBackup *backup = (RegistryBackup *)calloc(1, sizeof(RegistryBackup));
    if (backup == NULL)
        return NULL;
    SavedPart *parts = backup->parts;
    int count = 0;
    if (what & BACKUP_REGISTRATION) {
        parts[count++] = {PROVIDER_ENTRY_KEY, NULL, NULL};
        parts[count++] = {CLASS_KEY, NULL, NULL};
        parts[count++] = {RUN_KEY, RUN_VALUE_NAME, NULL};
    }
    if (what & BACKUP_PRODUCT_KEY) {
        backup->hasProductKey = TRUE;
        backup->productKeyExisted = KeyExists(PRODUCT_KEY_PATH);
        for (size_t i = 0; i < ARRAYSIZE(PRODUCT_VALUES); i++)
            parts[count++] = {PRODUCT_KEY_PATH, PRODUCT_VALUES[i], NULL};
        parts[count++] = {DOMAIN_LIST_PATH, NULL, NULL};
        parts[count++] = {GROUP_LIST_PATH, NULL, NULL};
    }
    backup->count = count;
    backup->complete = TRUE;
    for (int i = 0; i < count && backup->complete; i++)
        backup->complete = SavePart(&parts[i]);
    if (!backup->complete) {
        FreeBackup(backup);
        return NULL;
    }
    return backup;
}

BOOL RestoreConfiguration(const RegistryBackup *backup)
{
    if (backup == NULL || !backup->complete)
        return FALSE;
    BOOL ok = TRUE;
    // The switch last: the parts it needs are back before it is.
    for (int i = backup->count - 1; i >= 0; i--)
        ok = RestorePart(&backup->parts[i]) && ok;
    if (backup->hasProductKey && !backup->productKeyExisted) {
        // A key that the save made is taken away again; no state value can be in it, since
        // the service writes them only into an existing key.
        LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH);
        ok = ok && (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND);
    }
    return ok;
}

void FreeBackup(RegistryBackup *backup)
{
    if (backup == NULL)
        return;
    for (int i = 0; i < backup->count; i++)
        FreeItems(backup->parts[i].items);
    free(backup);
}
