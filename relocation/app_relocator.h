#pragma once

// Moves a launcher started from a temporary folder or a mounted volume into the Applications
// folder and restarts it from there; returns only when it did not end the process.
void relocateToApplicationsFolder();
