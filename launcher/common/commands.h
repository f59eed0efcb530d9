#pragma once
// Command ids of the main window; the front ends deliver them on their own thread.

constexpr int IDM_ABOUT = 104;
constexpr int IDM_EXIT = 105;
constexpr int IDM_SHOW_LOG = 106;
constexpr int IDM_DOWNLOAD_LOG = 108;
