<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="ISO-8859-1"/>
  <xsl:template match="/"><xsl:value-of select="books/book[2]/title"/></xsl:template>
</xsl:stylesheet>
