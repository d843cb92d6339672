// The console commands of the overlay: keyword searches and their results
// (s, vr), booting from an address (boot), the firewall (retest), the
// contacts (vc, vcl, nearest), the buddies (vbud), the UDP port (uport),
// the location link (getloc), the status (g), and in master mode the
// index size (dir), the check message (check), the publisher's step
// (delay) and a test publish (testp). Ports are taken from 1 to 65535.
#pragma once

void s_command(char* line);
void vr_command(char* line);
void boot_command(char* line);
void retest_command(char* line);
void vc_command(char* line);
void uport_command(char* line);
void getloc_command(char* line);
void vbud_command(char* line);
void g_command(char* line);
void dir_command(char* line);
void check_command(char* line);
void delay_command(char* line);
void testp_command(char* line);
void vcl_command(char* line);
void nearest_command(char* line);
