// Start-up and shutdown of the download side: the partner table and the
// download pool, installed as the transfer hub's downloads side, the peer
// protocol's downloads side and the overlay's source sink.
#pragma once

// Before the transfer hub's init. Keeps what is installed.
void installDownloadPool();
// Once the hub has shut the pool down and no thread is left.
void uninstallDownloadPool();
