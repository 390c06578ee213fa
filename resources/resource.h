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
#define IDD_CONFIG 2003
#define IDD_ABOUT 109

#endif
