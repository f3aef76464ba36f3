// Names that leave the process: kernel objects other programs see, and the
// folder put under a drive root.
#pragma once

// The launcher's single-instance guard.
constexpr const char LAUNCHER_MUTEX_NAME[] = "ZEPHRA_QX_TRIAL_INST_MTX";
// Held by the installer (and programs it starts) while it must not be
// disturbed; the launcher removes nothing while another holds it.
constexpr const char INSTALLER_MUTEX_NAME[] = "ZEPHRA_QX_INST_UNINST_MTX";
// The destination folder under a temporary folder that is a drive root.
constexpr const char DRIVE_ROOT_FOLDER_NAME[] = "ZEPHRAQUEST_DEMO_B";
