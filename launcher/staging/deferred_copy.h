#pragma once
// The rest of the study, the disc's DATA/DW and DATA/DICOM trees, copied into the workspace
// while the viewer is already in use.

// Copies both trees and records the outcome in copy_status.txt. Never raises.
void copyRemainingFiles();
