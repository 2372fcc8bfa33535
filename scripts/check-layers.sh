#!/bin/sh
# The core links no widgets: nothing under src/core may include the GUI layer.
# Usage: check-layers.sh SOURCE_DIR
found=$(grep -rlE '#include "gui/' "$1/src/core")
if [ -n "$found" ]; then
    echo "src/core includes src/gui in:"
    echo "$found"
    exit 1
fi
