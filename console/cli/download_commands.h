// The console commands of the downloads, numbered from 1 as vd lists
// them: the listing (vd), a download's record with its hashes (dld), its
// crumb map (vso), the partners (vpart), changes (m: cancel, pause,
// resume, priority, sources), a source by address (adds), and in master
// mode a new source search (reset) and the gaps and progress of the
// download of a link (vg).
//
// A download found by its number carries a reference while the command
// uses it; the one posted with MSG_CANCEL_DOWNLOAD, MSG_PAUSE_DOWNLOAD or
// MSG_RESUME_DOWNLOAD is released by the transfer handler, so the download
// outlives an end that was queued before the message.
#pragma once

// Crumbs vso shows at most.
constexpr unsigned kCrumbsShown = 69;
// The port adds takes without one.
constexpr int kDefaultSourcePort = 4662;

void vd_command(char* line);
void dld_command(char* line);
void vso_command(char* line);
void vpart_command(char* line);
void m_command(char* line);
void adds_command(char* line);
void reset_command(char* line);
void vg_command(char* line);
