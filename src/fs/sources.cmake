# Sources of this folder, added to orvelia_core.
