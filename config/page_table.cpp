// The page table and the one walk that applies an operation of every page to the records,
// in tab order: load, save, file read and write, release.
#include "wardsetup.h"
#include "wardsetup_res.h"

const SettingsPage g_settingsPages[SETTINGS_PAGE_COUNT] = {
    // General: registration, logon image, domain names, several-interfaces warning
    {IDS_TAB_GENERAL, IDD_PAGE_GENERAL, GeneralPageProc, GeneralReadRegistry,
     GeneralWriteRegistry, GeneralReadFile, GeneralWriteFile, GeneralRelease},
    // VLAN: logon and logoff servers, logoff servers by VLAN id
    {IDS_TAB_VLAN, IDD_PAGE_VLAN, VlanPageProc, VlanReadRegistry, VlanWriteRegistry,
     VlanReadFile, VlanWriteFile, VlanRelease},
    // DHCP: renewal and domain-controller search
    {IDS_TAB_DHCP, IDD_PAGE_DHCP, DhcpPageProc, DhcpReadRegistry, DhcpWriteRegistry,
     DhcpReadFile, DhcpWriteFile, DhcpRelease},
};

enum PageOperation {
    PAGE_READ_REGISTRY,
    PAGE_WRITE_REGISTRY,
    PAGE_READ_FILE,
    PAGE_WRITE_FILE,
    PAGE_RELEASE,
};

// Stops at the first page that fails; release never fails, so every page releases.
static int WalkPages(PageOperation operation, ConfigRecords *records, LPCWSTR path)
{
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        const SettingsPage *page = &g_settingsPages[i];
        int rc = SETUP_SUCCESS;
        switch (operation) {
        case PAGE_READ_REGISTRY: rc = page->readRegistry(records); break;
        case PAGE_WRITE_REGISTRY: rc = page->writeRegistry(records); break;
        case PAGE_READ_FILE: rc = page->readFile(records, path); break;
        case PAGE_WRITE_FILE: rc = page->writeFile(records, path); break;
        case PAGE_RELEASE: page->release(records); break;
        }
        if (rc != SETUP_SUCCESS)
            return SETUP_FAILURE;
    }
    return SETUP_SUCCESS;
}

int ReadAllFromRegistry(ConfigRecords *records)
{
    return WalkPages(PAGE_READ_REGISTRY, records, NULL);
}

int WriteAllToRegistry(ConfigRecords *records)
{
    if (CheckRecords(records) != SETUP_SUCCESS)
        return SETUP_FAILURE;
    // Everything the pages may change is copied first, so that a failure on the way puts
    // back exactly what was there: no half-saved configuration, no system switched off.
    RegistryBackup *backup = BackupConfiguration(BACKUP_REGISTRATION | BACKUP_PRODUCT_KEY);
    if (backup == NULL)
        return RecordFailure(records, IDS_SAVE_FAILED, 0, 0);
    int rc = WalkPages(PAGE_WRITE_REGISTRY, records, NULL);
    if (rc != SETUP_SUCCESS) {
        RestoreConfiguration(backup);
        if (records->failureText == 0)
            records->failureText = IDS_SAVE_FAILED;
    }
    FreeBackup(backup);
    return rc;
}

int ReadAllFromFile(ConfigRecords *records, LPCWSTR path)
{
    records->failureText = 0;
    if (!IsConfigurationFile(path))
        return RecordFailure(records, IDS_NOT_A_CONFIGURATION, 0, 0);
    if (WalkPages(PAGE_READ_FILE, records, path) != SETUP_SUCCESS)
        return RecordFailure(records, IDS_FILE_READ_FAILED, 0, 0);
    return SETUP_SUCCESS;
}

int WriteAllToFile(const ConfigRecords *records, LPCWSTR path)
{
    WCHAR encoded[CONFIG_TEXT_CHARS];
    if (!EncodeConfigMessage(records->general.multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS))
        return SETUP_FAILURE;
    // The pages write into a copy; the file itself changes once, when the copy is whole.
    LPWSTR copy = BeginConfigFileCopy(path, !RecordsFitAnsi(records));
    if (copy == NULL)
        return SETUP_FAILURE;
    // writeFile takes the records as const: the walk only passes them on.
    int rc = WalkPages(PAGE_WRITE_FILE, const_cast<ConfigRecords *>(records), copy);
    if (!EndConfigFileCopy(copy, path, rc == SETUP_SUCCESS))
        rc = SETUP_FAILURE;
    return rc;
}

void ReleaseAll(ConfigRecords *records)
{
    WalkPages(PAGE_RELEASE, records, NULL);
}
