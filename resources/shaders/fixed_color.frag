#version 150 compatibility

uniform vec4 color;

void main()
{
    gl_FragColor = color;
}
