// The master commands that check the client and measure the overlay: the
// built-in self tests (test), the publish test (testDrop), the closer test
// (testCloser), the router test (testRouter text port1 port2) and the
// request statistics (collect). The first use of a measurement starts it;
// later uses dump what it found so far (collect only keeps collecting).
#pragma once

void test_command(char* line);
void testDrop_command(char* line);
void testCloser_command(char* line);
void testRouter_command(char* line);
void collect_command(char* line);
