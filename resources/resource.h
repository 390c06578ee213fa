// Identifiers of the saver's resources.
#ifndef VANTREL_RESOURCE_H
#define VANTREL_RESOURCE_H

// The slideshow, in the order the engine's asset table lists them.
#define IDB_TITLE 117
#define IDB_BATTLEFIELD 119
#define IDB_SEARCHLIGHTS 120
#define IDB_FORTRESS 138
// The bomb phase: sprite, backdrop and mask.
#define IDB_BOMB 118
#define IDB_BACKDROP 128
#define IDB_BOMB_MASK 130
// The dialogs' pictures.
#define IDB_CONFIG_BANNER 124
#define IDB_ABOUT 125

#define IDI_SAVER_ICON_GROUP 139

// The configuration dialog and its controls. The slider ids do not follow the
// rows on screen: 1043 is the top row, 1045 the middle, 1044 the bottom.
#define IDD_CONFIG 2003
#define IDC_ABOUT 1017
#define IDC_BOMBS_ONLY 1038
#define IDC_BOMB_COUNT_SLIDER 1043
#define IDC_SCREEN_DELAY_SLIDER 1044
#define IDC_BOMB_SPEED_SLIDER 1045
#define IDC_BOMB_COUNT_BOX 1053
#define IDC_BOMB_SPEED_BOX 1054
#define IDC_SCREEN_DELAY_BOX 1055
#define IDC_DEFAULTS 1057
#define IDC_BOMB_BACKDROP 1058

// The About dialog; its OK button is not IDOK.
#define IDD_ABOUT 109
#define IDC_ABOUT_OK 3

#endif
