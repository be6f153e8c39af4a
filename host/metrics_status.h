// What the agent tells the framework's metrics endpoint: the metric columns
// of each table (from the row catalogue) and its own status.
#pragma once

// Registers both with the framework; call before cfwmain.
void RegisterMetricsSources();
