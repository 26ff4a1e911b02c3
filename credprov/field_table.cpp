// The tile's fields, shared by the provider (which publishes them) and the credential (which
// keeps their states).
#include "wardtile.h"

#include "wardtile_res.h"

// The tile, row by row: type, label, and the state it starts in.
const FieldTableEntry g_fieldTable[FIELD_COUNT] = {
    // FIELD_TILE_IMAGE: the picture
    {CPFT_TILE_IMAGE, 0, {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}},
    // FIELD_TITLE: "RAZ/URA Logon"
    {CPFT_LARGE_TEXT, IDS_TILE_TITLE, {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}},
    // FIELD_USER_NAME: focused unless a default user name is filled in
    {CPFT_EDIT_TEXT, IDS_USER_NAME, {CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_FOCUSED}},
    // FIELD_PASSWORD
    {CPFT_PASSWORD_TEXT, IDS_PASSWORD, {CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_FOCUSED}},
    // FIELD_DOMAIN: "Log on to", the domain list
    {CPFT_COMBOBOX, IDS_LOG_ON_TO, {CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE}},
    // FIELD_SUBMIT: beside the domain box
    {CPFT_SUBMIT_BUTTON, 0, {CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE}},
    // FIELD_STATUS: an empty line
    {CPFT_SMALL_TEXT, 0, {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}},
};
