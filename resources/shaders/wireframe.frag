#version 150 compatibility
