#version 150 compatibility
// Two-sided colour: the interpolated front colour or the back colour by the facing of the fragment.

in vec4 glBackColor;

void main()
{
    gl_FragColor = gl_FrontFacing ? gl_Color : glBackColor;
}
