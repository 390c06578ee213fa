// Identifiers of the Screen Saver Settings panel's resources. They live in
// the same embedded table as the saver's, so they keep clear of its numbers.
#ifndef VANTREL_PANEL_RESOURCE_H
#define VANTREL_PANEL_RESOURCE_H

#define IDD_PANEL 4000
#define IDC_PANEL_MONITOR 4001
#define IDC_PANEL_SAVER_NAME 4002
#define IDC_PANEL_SETTINGS 4003
#define IDC_PANEL_PREVIEW 4004
#define IDC_PANEL_ACTIVE 4005
#define IDC_PANEL_WAIT 4006
#define IDC_PANEL_WAIT_LABEL 4007
#define IDC_PANEL_MINUTES 4008
#define IDC_PANEL_LOCK 4012
#define IDC_PANEL_LOCK_REASON 4013
// Apply has the number property sheets give it.
#define IDC_PANEL_APPLY 0x3021
// Made by the panel inside the monitor picture's screen.
#define IDC_PANEL_PREVIEW_HOST 4010
#define IDC_PANEL_NO_PREVIEW 4011

// The picture of a monitor, drawn by the panel; the template names it.
#define PANEL_MONITOR_CLASS "VantrelPanelMonitor"

#endif
